// C_SetAttributeValue and C_DestroyObject through the module.
#include "ObjectsTest.h"

using namespace objects_test;
using testing_support::defaultPin;

namespace {

class ModifyDestroyTest : public ObjectsTest {};

template <typename Record>
Bytes identifierOf(const Record& record) {
    return Bytes(record.identifier, record.identifier + sizeof record.identifier);
}

}  // namespace

TEST_F(ModifyDestroyTest, SetAttributeTemplates) {
    ZelmorKeyPair keyPair = addKeyPair(7, keyKindRsa2048, "keep", {0x01});
    CK_SESSION_HANDLE session = openSession(false);  // read-only and public: the device decides
    char first[] = "first", second[] = "second";
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE id[] = {0xAA, 0xBB};
    struct Case {
        const char* name;
        CK_OBJECT_HANDLE handle;
        std::vector<CK_ATTRIBUTE> changes;
        bool deviceCalled;
        std::string label;
        Bytes id;
    } cases[] = {
        {"only CKA_SIGN", privateBase + 7, {attribute(CKA_SIGN, &yes, 1)}, false, "", {}},
        {"empty label", privateBase + 7, {attribute(CKA_LABEL, first, 0)}, false, "", {}},
        {"null label", publicBase + 7, {attribute(CKA_LABEL, nullptr, 5)}, false, "", {}},
        {"later label wins", privateBase + 7, {attribute(CKA_LABEL, first, 5), attribute(CKA_LABEL, second, 6)}, true,
         "second", {}},
        {"ID only", publicBase + 7, {attribute(CKA_ID, id, 2), attribute(CKA_SIGN, &yes, 1)}, true, "", {0xAA, 0xBB}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeLibrary().clearCalls();
        EXPECT_EQ(CKR_OK, f()->C_SetAttributeValue(session, c.handle, c.changes.data(),
                                                   static_cast<CK_ULONG>(c.changes.size())));
        auto calls = fakeLibrary().calls("zelmor_updateKeyPairDetails");
        ASSERT_EQ(c.deviceCalled ? 1u : 0u, calls.size());
        if (!c.deviceCalled) continue;
        EXPECT_EQ(defaultDevice, calls[0].deviceName);
        EXPECT_EQ(identifierOf(keyPair), calls[0].identifier);
        EXPECT_NE(nullptr, calls[0].instance);
        EXPECT_EQ(c.label, calls[0].text);
        EXPECT_EQ(c.id, calls[0].data);
        EXPECT_EQ(static_cast<int64_t>(c.id.size()), calls[0].number);
        EXPECT_EQ("", calls[0].password);
    }

    // Logged in, the PIN goes along; the public handle's change shows through the private one.
    login(session);
    fakeLibrary().clearCalls();
    char label[] = "new label";
    CK_ATTRIBUTE changes[] = {attribute(CKA_LABEL, label, 9), attribute(CKA_ID, id, 2)};
    ASSERT_EQ(CKR_OK, f()->C_SetAttributeValue(session, publicBase + 7, changes, 2));
    EXPECT_EQ(defaultPin, fakeLibrary().calls("zelmor_updateKeyPairDetails").at(0).password);
    EXPECT_EQ(bytesOf("new label"), readAttribute(session, privateBase + 7, CKA_LABEL));
    EXPECT_EQ((Bytes{0xAA, 0xBB}), readAttribute(session, privateBase + 7, CKA_ID));
}

TEST_F(ModifyDestroyTest, RefusalsAndFailureMapping) {
    addKeyPair(0);
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    CK_SESSION_HANDLE readOnly = openSession(false);
    char label[] = "x";
    CK_ATTRIBUTE change = attribute(CKA_LABEL, label, 1);
    fakeLibrary().clearCalls();

    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SetAttributeValue(session, privateBase, nullptr, 1));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SetAttributeValue(session, privateBase, &change, 0));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_SetAttributeValue(session + 100, privateBase, &change, 1));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_DestroyObject(session + 100, privateBase));
    // Destroying needs a read-write session, checked before the handle, logged in or not.
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_DestroyObject(readOnly, 0x12345));
    login(readOnly);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_DestroyObject(readOnly, privateBase));
    EXPECT_TRUE(logHas("DEBUG", "Delete session state invalid : 1"));
    // Certificates cannot be changed; handles below the key range name nothing.
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SetAttributeValue(session, certificateBase, &change, 1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SetAttributeValue(session, 0x6FFFFFFF, &change, 1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, 0x6FFFFFFF));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getKeyPairList"));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SetAttributeValue(session, publicBase + 3, &change, 1));
    EXPECT_TRUE(logHas("ERROR", "Key pair not found in Set attribute : " + std::to_string(publicBase + 3)));

    fakeLibrary().setResult("zelmor_updateKeyPairDetails", -240);
    fakeLibrary().setResult("zelmor_deleteKeyPair", 40);
    fakeLibrary().setResult("zelmor_deleteCertificate", -1);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_SetAttributeValue(session, privateBase, &change, 1));
    EXPECT_TRUE(logHas("ERROR", "Update key pair details failed : -240"));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_deleteKeyPair"));
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_DestroyObject(session, privateBase));
    EXPECT_TRUE(logHas("ERROR", "Delete keypair in destroy object failed : 40"));
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_DestroyObject(session, certificateBase));
}

TEST_F(ModifyDestroyTest, DestroyRemovesARecordOnce) {
    ZelmorKeyPair keyPair = addKeyPair(3);
    fakeLibrary().edit([](FakeState& state) { state.devices[defaultDevice].keyPairs[0].keyFlag = 0; });
    ZelmorCertificate certificate = addCertificate(2, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    fakeLibrary().clearCalls();

    // A key pair goes only through its private handle, refused before any list is fetched.
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, publicBase + 3));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getKeyPairList"));

    // A certificate on a public read-write session: the empty password.
    EXPECT_EQ(CKR_OK, f()->C_DestroyObject(session, certificateBase + 2));
    auto certificateCalls = fakeLibrary().calls("zelmor_deleteCertificate");
    ASSERT_EQ(1u, certificateCalls.size());
    EXPECT_EQ(identifierOf(certificate), certificateCalls[0].identifier);
    EXPECT_EQ("", certificateCalls[0].password);

    login(session);
    EXPECT_EQ(CKR_OK, f()->C_DestroyObject(session, privateBase + 3));
    auto keyPairCalls = fakeLibrary().calls("zelmor_deleteKeyPair");
    ASSERT_EQ(1u, keyPairCalls.size());
    EXPECT_EQ(identifierOf(keyPair), keyPairCalls[0].identifier);
    EXPECT_EQ(defaultPin, keyPairCalls[0].password);
    EXPECT_FALSE(keyPairCalls[0].flag);

    // Every handle of the removed records stops resolving.
    CK_ULONG size = 0;
    for (CK_OBJECT_HANDLE gone : {privateBase + 3, publicBase + 3, certificateBase + 2}) {
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetObjectSize(session, gone, &size)) << gone;
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, gone)) << gone;
    }
    EXPECT_TRUE(logHas("DEBUG", "Input keypair not found in destroy : " + std::to_string(privateBase + 3)));
}

TEST_F(ModifyDestroyTest, RunningSearchKeepsADeletedObject) {
    addKeyPair(0);
    addKeyPair(1);
    CK_SESSION_HANDLE session = openSession();
    login(session);
    CK_OBJECT_CLASS privateKeyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE search = attribute(CKA_CLASS, &privateKeyClass, sizeof privateKeyClass);
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, &search, 1));
    ASSERT_EQ(CKR_OK, f()->C_DestroyObject(session, privateBase + 0));
    CK_OBJECT_HANDLE found[4];
    CK_ULONG count = 0;
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, found, 4, &count));
    EXPECT_EQ(2u, count);
    EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    EXPECT_EQ(Handles{privateBase + 1}, findByClass(session, CKO_PRIVATE_KEY));
}
