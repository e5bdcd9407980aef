// C_SetAttributeValue and C_DestroyObject through the module.
#include "ObjectsTest.h"

using namespace objects_test;
using testing_support::defaultDevice;
using testing_support::defaultPin;

namespace {

class ModifyDestroyTest : public ObjectsTest {};

Bytes identifierOf(const ZelmorKeyPair& keyPair) {
    return Bytes(keyPair.identifier, keyPair.identifier + sizeof keyPair.identifier);
}
Bytes identifierOf(const ZelmorCertificate& certificate) {
    return Bytes(certificate.identifier, certificate.identifier + sizeof certificate.identifier);
}

}  // namespace

TEST_F(ModifyDestroyTest, RelabelThroughThePublicHandleShowsThroughThePrivateOne) {
    ZelmorKeyPair keyPair = addKeyPair(7, keyKindRsa2048, "old", {0x01});
    CK_SESSION_HANDLE session = openSession(false);
    login(session);
    char label[] = "new label";
    CK_BYTE id[] = {0xAA, 0xBB};
    CK_ATTRIBUTE changes[] = {attribute(CKA_LABEL, label, 9), attribute(CKA_ID, id, 2)};
    ASSERT_EQ(CKR_OK, f()->C_SetAttributeValue(session, publicBase + 7, changes, 2));

    auto calls = fakeLibrary().calls("zelmor_updateKeyPairDetails");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(defaultDevice, calls[0].deviceName);
    EXPECT_EQ(identifierOf(keyPair), calls[0].identifier);
    EXPECT_EQ(defaultPin, calls[0].password);
    EXPECT_EQ("new label", calls[0].text);
    EXPECT_EQ((Bytes{0xAA, 0xBB}), calls[0].data);
    EXPECT_NE(nullptr, calls[0].instance);
    EXPECT_TRUE(logHas("DEBUG", "C_SetAttributeValue - attrip type : 258"));
    EXPECT_TRUE(logHas("DEBUG", "Set attribute end"));

    EXPECT_EQ(bytesOf("new label"), readAttribute(session, privateBase + 7, CKA_LABEL));
    EXPECT_EQ((Bytes{0xAA, 0xBB}), readAttribute(session, privateBase + 7, CKA_ID));
}

TEST_F(ModifyDestroyTest, SetAttributeTemplates) {
    addKeyPair(0, keyKindRsa2048, "keep", {0x01});
    CK_SESSION_HANDLE session = openSession(false);  // read-only and public: the device decides
    char first[] = "first", second[] = "second";
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE id[] = {0x09};
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> changes;
        bool deviceCalled;
        std::string label;
        Bytes id;
    } cases[] = {
        {"only CKA_SIGN", {attribute(CKA_SIGN, &yes, 1)}, false, "", {}},
        {"empty label", {attribute(CKA_LABEL, first, 0)}, false, "", {}},
        {"null label", {attribute(CKA_LABEL, nullptr, 5)}, false, "", {}},
        {"later label wins", {attribute(CKA_LABEL, first, 5), attribute(CKA_LABEL, second, 6)}, true, "second", {}},
        {"ID only", {attribute(CKA_ID, id, 1), attribute(CKA_SIGN, &yes, 1)}, true, "", {0x09}},
    };
    for (const Case& c : cases) {
        fakeLibrary().clearCalls();
        EXPECT_EQ(CKR_OK, f()->C_SetAttributeValue(session, privateBase, const_cast<CK_ATTRIBUTE*>(c.changes.data()),
                                                   static_cast<CK_ULONG>(c.changes.size())))
            << c.name;
        auto calls = fakeLibrary().calls("zelmor_updateKeyPairDetails");
        ASSERT_EQ(c.deviceCalled ? 1u : 0u, calls.size()) << c.name;
        if (!c.deviceCalled) continue;
        EXPECT_EQ(c.label, calls[0].text) << c.name;
        EXPECT_EQ(c.id, calls[0].data) << c.name;
        EXPECT_EQ(static_cast<int64_t>(c.id.size()), calls[0].number) << c.name;
        EXPECT_EQ("", calls[0].password) << c.name;
    }
}

TEST_F(ModifyDestroyTest, SetAttributeRefusals) {
    addKeyPair(0);
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    char label[] = "x";
    CK_ATTRIBUTE change = attribute(CKA_LABEL, label, 1);
    fakeLibrary().clearCalls();

    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SetAttributeValue(session, privateBase, nullptr, 1));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SetAttributeValue(session, privateBase, &change, 0));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_SetAttributeValue(session + 100, privateBase, &change, 1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SetAttributeValue(session, certificateBase, &change, 1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SetAttributeValue(session, 0x6FFFFFFF, &change, 1));
    if (sizeof(CK_ULONG) > 4) {
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SetAttributeValue(session, above32Bits(privateBase), &change, 1));
    }
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getKeyPairList"));

    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SetAttributeValue(session, publicBase + 3, &change, 1));
    EXPECT_TRUE(logHas("ERROR", "Key pair not found in Set attribute : " + std::to_string(publicBase + 3)));

    fakeLibrary().setResult("zelmor_updateKeyPairDetails", -240);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_SetAttributeValue(session, privateBase, &change, 1));
    EXPECT_TRUE(logHas("ERROR", "Update key pair details failed : -240"));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_deleteKeyPair"));
}

TEST_F(ModifyDestroyTest, DestroyKeyPairThroughThePrivateHandleOnly) {
    ZelmorKeyPair keyPair = addKeyPair(3);
    fakeLibrary().edit([](FakeState& state) { state.devices[defaultDevice].keyPairs[0].keyFlag = 0; });
    CK_SESSION_HANDLE session = openSession();
    login(session);
    fakeLibrary().clearCalls();

    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, publicBase + 3));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getKeyPairList"));
    EXPECT_EQ(CKR_OK, f()->C_DestroyObject(session, privateBase + 3));
    auto calls = fakeLibrary().calls("zelmor_deleteKeyPair");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(identifierOf(keyPair), calls[0].identifier);
    EXPECT_EQ(defaultPin, calls[0].password);
    EXPECT_FALSE(calls[0].flag);
    EXPECT_TRUE(logHas("DEBUG", "Delete key pair id : " + std::to_string(privateBase + 3)));

    // Both handles of the key pair stop resolving.
    CK_ULONG size = 0;
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetObjectSize(session, privateBase + 3, &size));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetObjectSize(session, publicBase + 3, &size));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, privateBase + 3));
    EXPECT_TRUE(logHas("DEBUG", "Input keypair not found in destroy : " + std::to_string(privateBase + 3)));
}

TEST_F(ModifyDestroyTest, DestroyCertificateOnAPublicReadWriteSession) {
    ZelmorCertificate certificate = addCertificate(2, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    EXPECT_EQ(CKR_OK, f()->C_DestroyObject(session, certificateBase + 2));
    auto calls = fakeLibrary().calls("zelmor_deleteCertificate");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(identifierOf(certificate), calls[0].identifier);
    EXPECT_EQ("", calls[0].password);
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, certificateBase + 2));
    EXPECT_TRUE(logHas("DEBUG", "Input certificate not found in destroy : " + std::to_string(certificateBase + 2)));
}

TEST_F(ModifyDestroyTest, DestroyRefusalsAndFailureMapping) {
    addKeyPair(0);
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE readOnly = openSession(false);
    CK_SESSION_HANDLE readWrite = openSession(true);

    // A read-only session is refused before the handle is looked at.
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_DestroyObject(readOnly, 0x12345));
    EXPECT_TRUE(logHas("DEBUG", "Delete session state invalid : 0"));
    login(readOnly);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_DestroyObject(readOnly, privateBase));
    EXPECT_TRUE(logHas("DEBUG", "Delete session state invalid : 1"));

    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_DestroyObject(readWrite + 100, privateBase));
    EXPECT_TRUE(logHas("DEBUG", "Delete session state invalid"));
    if (sizeof(CK_ULONG) > 4) {
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID,
                  f()->C_DestroyObject(above32Bits(static_cast<uint32_t>(readWrite)), privateBase));
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(readWrite, above32Bits(privateBase)));
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(readWrite, above32Bits(certificateBase)));
    }
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(readWrite, 0x6FFFFFFF));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_deleteKeyPair") + fakeLibrary().callCount("zelmor_deleteCertificate"));

    fakeLibrary().setResult("zelmor_deleteKeyPair", 40);
    fakeLibrary().setResult("zelmor_deleteCertificate", -1);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_DestroyObject(readWrite, privateBase));
    EXPECT_TRUE(logHas("ERROR", "Delete keypair in destroy object failed : 40"));
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_DestroyObject(readWrite, certificateBase));
    EXPECT_TRUE(logHas("ERROR", "Delete certificate in destroy object failed : -1"));
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
    EXPECT_EQ(Handles{privateBase + 1}, findAll(session, {search}));
}
