// C_SetAttributeValue and C_DestroyObject through the module.
#include "ObjectsTest.h"

using namespace objects_test;

namespace {

class ModifyDestroyTest : public ObjectsTest {};

template <typename Record>
Bytes identifierOf(const Record& record) {
    return Bytes(record.identifier, record.identifier + sizeof record.identifier);
}

}  // namespace

// Entries without a value are skipped and a later one wins; only a label or
// an ID goes to the device, with the login's PIN or the empty password. The
// refusals come in their order; device failures are mapped.
TEST_F(ModifyDestroyTest, SetAttributeValue) {
    const ZelmorKeyPair keyPair = addKeyPair(7, keyKindRsa2048, "keep", {0x01});
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession(false);  // read-only: the device decides
    const struct Case {
        CK_OBJECT_HANDLE handle;
        Template changes;
        CK_RV expected;
        bool called;
        std::string label;
        Bytes id;
    } cases[] = {
        {privateBase + 7, Template().bytes(CKA_SIGN, yes), CKR_OK, false, "", {}},
        {privateBase + 7, Template().sized(CKA_LABEL, bytesOf("x"), 0).null(CKA_ID, 5), CKR_OK, false, "", {}},
        {privateBase + 7, Template().text(CKA_LABEL, "first").text(CKA_LABEL, "second"), CKR_OK, true, "second", {}},
        {publicBase + 7, Template().bytes(CKA_ID, {0xAA, 0xBB}).bytes(CKA_SIGN, yes), CKR_OK, true, "", {0xAA, 0xBB}},
        {certificateBase, Template().text(CKA_LABEL, "x"), CKR_OBJECT_HANDLE_INVALID, false, "", {}},
        {0x6FFFFFFF, Template().text(CKA_LABEL, "x"), CKR_OBJECT_HANDLE_INVALID, false, "", {}},
        {publicBase + 3, Template().text(CKA_LABEL, "x"), CKR_OBJECT_HANDLE_INVALID, false, "", {}},
        {privateBase + 7, Template(), CKR_ARGUMENTS_BAD, false, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label + std::to_string(c.handle));
        fakeLibrary().clearCalls();
        std::vector<CK_ATTRIBUTE> entries = c.changes.attributes();
        EXPECT_EQ(c.expected, f()->C_SetAttributeValue(session, c.handle, entries.data(), entries.size()));
        const std::vector<FakeCall> calls = fakeLibrary().calls("zelmor_updateKeyPairDetails");
        ASSERT_EQ(c.called ? 1u : 0u, calls.size());
        if (!c.called) continue;
        EXPECT_EQ((std::vector<std::string>{defaultDevice, c.label, ""}),
                  (std::vector<std::string>{calls[0].deviceName, calls[0].text, calls[0].password}));
        EXPECT_EQ((std::vector<Bytes>{identifierOf(keyPair), c.id}), (std::vector<Bytes>{calls[0].identifier, calls[0].data}));
        EXPECT_EQ(static_cast<int64_t>(c.id.size()), calls[0].number);
        EXPECT_NE(nullptr, calls[0].instance);
    }
    EXPECT_TRUE(logged("Key pair not found in Set attribute : " + std::to_string(publicBase + 3)));
    login(session);
    const Template change = Template().text(CKA_LABEL, "new label").bytes(CKA_ID, {0xAA});
    std::vector<CK_ATTRIBUTE> changes = change.attributes();
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_SetAttributeValue(session + 100, privateBase + 7, changes.data(), 2));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SetAttributeValue(session, privateBase + 7, changes.data(), 0));
    ASSERT_EQ(CKR_OK, f()->C_SetAttributeValue(session, publicBase + 7, changes.data(), 2));
    EXPECT_EQ(defaultPin, fakeLibrary().calls("zelmor_updateKeyPairDetails").at(0).password);
    EXPECT_EQ(bytesOf("new label"), readAttribute(session, privateBase + 7, CKA_LABEL));
    EXPECT_EQ(Bytes{0xAA}, readAttribute(session, privateBase + 7, CKA_ID));
    fakeLibrary().setResult("zelmor_updateKeyPairDetails", -240);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_SetAttributeValue(session, privateBase + 7, changes.data(), 2));
}

// Destroying needs a read-write session, checked before the handle; key
// pairs go only through their private handle, refused before any list is
// fetched. A destroyed record's handles stop resolving; a running search
// keeps it.
TEST_F(ModifyDestroyTest, DestroyObject) {
    ZelmorKeyPair keyPair = makeFakeKeyPair(3, keyKindRsa2048, "", {});
    keyPair.keyFlag = 0;
    fakeLibrary().addKeyPair(defaultDevice, keyPair);
    addKeyPair(4);
    const ZelmorCertificate certificate = addCertificate(2, bytesOf("der"));
    addCertificate(5, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession(), readOnly = openSession(false);
    fakeLibrary().clearCalls();
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_DestroyObject(session + 100, privateBase + 3));
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_DestroyObject(readOnly, 0x12345));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, publicBase + 3));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getKeyPairList"));
    EXPECT_EQ(CKR_OK, f()->C_DestroyObject(session, certificateBase + 2));
    login(session);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_DestroyObject(readOnly, privateBase + 3));
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
    EXPECT_EQ(CKR_OK, f()->C_DestroyObject(session, privateBase + 3));
    const FakeCall deletedCertificate = fakeLibrary().calls("zelmor_deleteCertificate").at(0);
    const FakeCall deletedKeyPair = fakeLibrary().calls("zelmor_deleteKeyPair").at(0);
    EXPECT_EQ((std::vector<Bytes>{identifierOf(certificate), identifierOf(keyPair)}),
              (std::vector<Bytes>{deletedCertificate.identifier, deletedKeyPair.identifier}));
    EXPECT_EQ((std::vector<std::string>{"", defaultPin}), (std::vector<std::string>{deletedCertificate.password, deletedKeyPair.password}));
    EXPECT_FALSE(deletedKeyPair.flag);
    Handles found(8);
    CK_ULONG count = 0;
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, found.data(), 8, &count));
    EXPECT_EQ((Handles{publicBase + 3, publicBase + 4, privateBase + 3, privateBase + 4, certificateBase + 5}), Handles(found.data(), found.data() + count));
    EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    for (CK_OBJECT_HANDLE gone : {privateBase + 3, publicBase + 3, certificateBase + 2}) {
        CK_ULONG size = 0;
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetObjectSize(session, gone, &size)) << gone;
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, gone)) << gone;
    }
    fakeLibrary().setResult("zelmor_deleteKeyPair", 40);
    fakeLibrary().setResult("zelmor_deleteCertificate", -1);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_DestroyObject(session, privateBase + 4));
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_DestroyObject(session, certificateBase + 5));
}
