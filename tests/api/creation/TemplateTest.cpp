// Template reading of C_CreateObject and C_GenerateKeyPair: entry checks,
// class dispatch, skipped and repeated entries, short CK_ULONG values.
#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

class CreationTemplates : public CreationTest {
protected:
    void SetUp() override {
        CreationTest::SetUp();
        leaf = der("leaf");
        defineCertificate(leaf, "CN=Leaf", "CN=Nobody");
    }
    CK_RV create(Template& t) { return f()->C_CreateObject(session, t.data(), t.count(), &handle); }

    Bytes leaf;
    CK_OBJECT_HANDLE handle = 0xDEADBEEF;
};

TEST_F(CreationTemplates, EntryChecks) {
    Template t;
    t.bytes(CKA_VALUE, leaf);
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CreateObject(0x60FFFFFF, t.data(), t.count(), &handle));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_CreateObject(session, nullptr, 1, &handle));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_CreateObject(session, t.data(), 0, &handle));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_CreateObject(session, t.data(), t.count(), nullptr));
    EXPECT_EQ(0u, fakeLibrary().calls().size());
}

TEST_F(CreationTemplates, ReadOnlySessionWithoutLoginMayCreate) {
    f()->C_Logout(session);
    CK_SESSION_HANDLE readOnly = openSession(false);
    Template t;
    t.bytes(CKA_VALUE, leaf);
    EXPECT_EQ(CKR_OK, f()->C_CreateObject(readOnly, t.data(), t.count(), &handle));
}

TEST_F(CreationTemplates, ClassDispatch) {
    Template noClass;
    noClass.bytes(CKA_VALUE, leaf);
    EXPECT_EQ(CKR_OK, create(noClass));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_importCertificate"));

    for (CK_ULONG refused : {CKO_PUBLIC_KEY, CKO_DATA, CKO_SECRET_KEY}) {
        SCOPED_TRACE(refused);
        fakeLibrary().clearCalls();
        Template t;
        t.ulong(CKA_CLASS, refused).bytes(CKA_VALUE, leaf);
        LogWatch log;
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, create(t));
        EXPECT_TRUE(log.contains("Provided object class not supported : " + std::to_string(refused)));
        EXPECT_EQ(0u, fakeLibrary().calls().size());
    }
}

TEST_F(CreationTemplates, EveryEntryWithAValueIsLoggedByType) {
    Template t;
    t.bytes(CKA_VALUE, leaf).text(CKA_APPLICATION, "ignored").raw(CKA_LABEL, nullptr, 4);
    LogWatch log;
    EXPECT_EQ(CKR_OK, create(t));
    EXPECT_TRUE(log.contains("C_CreateObject - attrip type : 17"));
    EXPECT_TRUE(log.contains("C_CreateObject - attrip type : 16"));
    EXPECT_FALSE(log.contains("C_CreateObject - attrip type : 3"));
}

TEST_F(CreationTemplates, SkippedAndRepeatedEntries) {
    Bytes other = der("other");
    defineCertificate(other, "CN=Other", "CN=Nobody");
    CK_ULONG privateKey = CKO_PRIVATE_KEY;
    Template t;
    t.bytes(CKA_VALUE, leaf)
        .raw(CKA_VALUE, nullptr, 40)          // null value: skipped
        .raw(CKA_CLASS, &privateKey, 0)       // zero length: skipped
        .text(CKA_LABEL, "first")
        .text(CKA_LABEL, "second")
        .bytes(CKA_VALUE, other);             // the later value wins
    ASSERT_EQ(CKR_OK, create(t));
    const ZelmorCertificate sent = fakeLibrary().calls("zelmor_importCertificate").at(0).certificate;
    EXPECT_EQ(other, Bytes(sent.value, sent.value + sent.valueLength));
    EXPECT_EQ("second", std::string(sent.label));
}

TEST_F(CreationTemplates, ShortCkUlongValuesAreRefused) {
    uint8_t shortValue[sizeof(CK_ULONG) - 1] = {CKO_PRIVATE_KEY};
    for (CK_ATTRIBUTE_TYPE type : {CKA_CLASS, CKA_KEY_TYPE}) {
        SCOPED_TRACE(type);
        fakeLibrary().clearCalls();
        Template t;
        t.bytes(CKA_VALUE, leaf).raw(type, shortValue, sizeof shortValue);
        EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, create(t));
        EXPECT_EQ(0u, fakeLibrary().calls().size());
        EXPECT_EQ(0xDEADBEEFu, handle);
    }

    CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE a = 0xDEADBEEF, b = 0xDEADBEEF;
    Template goodPublic, goodPrivate, shortType, shortBits;
    goodPublic.boolean(CKA_TOKEN, true);
    goodPrivate.boolean(CKA_TOKEN, true);
    shortType.raw(CKA_KEY_TYPE, shortValue, sizeof shortValue);
    uint8_t shortBitsValue[sizeof(CK_ULONG) - 1] = {0x00, 0x08};
    shortBits.raw(CKA_MODULUS_BITS, shortBitsValue, sizeof shortBitsValue);
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_GenerateKeyPair(session, &mechanism, goodPublic.data(), 1,
                                                                  shortType.data(), 1, &a, &b));
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_GenerateKeyPair(session, &mechanism, shortBits.data(), 1,
                                                                  goodPrivate.data(), 1, &a, &b));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_generateKeyPair"));
    EXPECT_EQ(0xDEADBEEFu, a);
}

}  // namespace
