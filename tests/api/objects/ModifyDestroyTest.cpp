// C_SetAttributeValue and C_DestroyObject through the module.
#include "ObjectsTest.h"

using namespace objects_test;

using ModifyDestroyTest = ObjectsTest;

// Entries without a value are skipped and a later one wins; only a label or
// an ID goes to the device (on a read-only public session: the device
// decides), the change shows through both handles. Refusals in their order,
// device failures mapped.
TEST_F(ModifyDestroyTest, SetAttributeValue) {
    const ZelmorKeyPair keyPair = addKeyPair(7, keyKindRsa2048, "keep", {0x01});
    CK_SESSION_HANDLE session = openSession(false);
    const struct {  // sent: label, ID, ID length and password sent (none: no device call)
        const char* name; CK_OBJECT_HANDLE handle; Template changes; CK_RV expected; std::vector<std::string> sent;
    } cases[] = {
        {"no label or ID: nothing sent", privateBase + 7, Template().bytes(CKA_SIGN, yes), CKR_OK, {}},
        {"empty label, null ID: nothing sent", privateBase + 7,
         Template().sized(CKA_LABEL, bytesOf("x"), 0).sized(CKA_ID, {}, 5, true), CKR_OK, {}},
        {"last label", privateBase + 7, Template().text(CKA_LABEL, "old").text(CKA_LABEL, "second"), CKR_OK,
         {"second", "", "0", ""}},
        {"ID through the public handle", publicBase + 7, Template().text(CKA_ID, "ab").bytes(CKA_SIGN, yes), CKR_OK,
         {"", "ab", "2", ""}},
        {"unknown key pair", publicBase + 3, Template().text(CKA_LABEL, "x"), CKR_OBJECT_HANDLE_INVALID, {}},
        {"certificate", certificateBase, Template().text(CKA_LABEL, "x"), CKR_OBJECT_HANDLE_INVALID, {}},
    };
    for (const auto& [name, handle, changes, expected, sent] : cases) {
        SCOPED_TRACE(name);
        fakeLibrary().clearCalls();
        std::vector<CK_ATTRIBUTE> entries = changes.attributes();
        EXPECT_EQ(expected, f()->C_SetAttributeValue(session, handle, entries.data(), entries.size()));
        const std::vector<FakeCall> calls = fakeLibrary().calls("zelmor_updateKeyPairDetails");
        ASSERT_EQ(sent.empty() ? 0u : 1u, calls.size());
        if (calls.empty()) continue;
        const std::string id(calls[0].id.begin(), calls[0].id.end());
        EXPECT_EQ(sent,
                  (std::vector<std::string>{calls[0].label, id, std::to_string(calls[0].length), calls[0].password}));
        EXPECT_EQ(Bytes(std::begin(keyPair.identifier), std::end(keyPair.identifier)), calls[0].identifier);
    }
    login(session);
    std::vector<CK_ATTRIBUTE> change = cases[2].changes.attributes();
    ASSERT_EQ(CKR_OK, f()->C_SetAttributeValue(session, publicBase + 7, change.data(), 2));
    EXPECT_EQ(defaultPin, fakeLibrary().calls("zelmor_updateKeyPairDetails").at(0).password);
    fakeLibrary().setResult("zelmor_updateKeyPairDetails", -240);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_SetAttributeValue(session, privateBase + 7, change.data(), 2));
}

// Destroying needs a read-write session, checked before the handle; key
// pairs go only through their private handle, refused before any list is
// fetched. A destroyed record's handles stop resolving.
TEST_F(ModifyDestroyTest, DestroyObject) {
    const ZelmorKeyPair keyPair = addKeyPair(3);
    const ZelmorCertificate certificate = addCertificate(2, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    CK_SESSION_HANDLE readOnly = openSession(false);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_DestroyObject(readOnly, 0x12345));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, publicBase + 3));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getKeyPairList"));
    // What the device does not list is not asked to be deleted; a refused deletion keeps the object.
    const struct {  // refusing: the deletion forced to fail, if any
        const char* name; CK_OBJECT_HANDLE handle; const char* refusing; CK_RV expected;
    } refused[] = {
        {"unknown key pair", privateBase + 9, nullptr, CKR_OBJECT_HANDLE_INVALID},
        {"unknown certificate", certificateBase + 9, nullptr, CKR_OBJECT_HANDLE_INVALID},
        {"key pair deletion refused", privateBase + 3, "zelmor_deleteKeyPair", CKR_FUNCTION_FAILED},
        {"certificate deletion refused", certificateBase + 2, "zelmor_deleteCertificate", CKR_FUNCTION_FAILED},
    };
    for (const auto& row : refused) {
        if (row.refusing != nullptr) fakeLibrary().setResult(row.refusing, 5);
        EXPECT_EQ(row.expected, f()->C_DestroyObject(session, row.handle)) << row.name;
        fakeLibrary().edit([](FakeState& state) { state.forcedResults.clear(); });
    }
    const std::size_t deletions = fakeLibrary().callCount("zelmor_deleteKeyPair");
    EXPECT_EQ(2u, deletions + fakeLibrary().callCount("zelmor_deleteCertificate"));
    EXPECT_EQ(CKR_OK, f()->C_DestroyObject(session, certificateBase + 2));
    login(session);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_DestroyObject(readOnly, privateBase + 3));
    EXPECT_EQ(CKR_OK, f()->C_DestroyObject(session, privateBase + 3));
    const FakeCall certificateCall = fakeLibrary().calls("zelmor_deleteCertificate").at(1);
    const FakeCall keyPairCall = fakeLibrary().calls("zelmor_deleteKeyPair").at(1);
    EXPECT_EQ(Bytes(std::begin(certificate.identifier), std::end(certificate.identifier)), certificateCall.identifier);
    EXPECT_EQ(Bytes(std::begin(keyPair.identifier), std::end(keyPair.identifier)), keyPairCall.identifier);
    EXPECT_EQ("", certificateCall.password);
    EXPECT_EQ(defaultPin, keyPairCall.password);
    EXPECT_TRUE(keyPairCall.keyFlag);
    const struct {
        const char* name; CK_OBJECT_HANDLE handle;
    } gone[] = {{"deleted certificate", certificateBase + 2}, {"deleted private key", privateBase + 3},
                {"deleted public key", publicBase + 3},       {"never there", certificateBase + 9}};
    for (const auto& row : gone) {
        CK_ATTRIBUTE label{CKA_LABEL, nullptr, 0};
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetAttributeValue(session, row.handle, &label, 1)) << row.name;
    }
}
