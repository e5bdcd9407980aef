// Template reading of C_CreateObject and C_GenerateKeyPair: entry checks,
// class dispatch, skipped and repeated entries, short CK_ULONG values.
#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

class CreationTemplates : public CreationTest {
protected:
    CK_RV create(Template& t) { return CreationTest::create(t, &handle); }
    CK_OBJECT_HANDLE handle = untouched;
};

TEST_F(CreationTemplates, EntryChecks) {
    Template t;
    t.bytes(CKA_VALUE, leaf);
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CreateObject(0x60FFFFFF, t.data(), t.count(), &handle));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_CreateObject(session, nullptr, 1, &handle));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_CreateObject(session, t.data(), 0, &handle));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_CreateObject(session, t.data(), t.count(), nullptr));
    EXPECT_EQ(0u, deviceCalls());
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
        EXPECT_EQ(0u, deviceCalls());
    }
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
    const ZelmorCertificate sent = imports().at(0).certificate;
    EXPECT_EQ(other, Bytes(sent.value, sent.value + sent.valueLength));
    EXPECT_EQ("second", std::string(sent.label));
}

TEST_F(CreationTemplates, ShortCkUlongValuesAreRefused) {
    uint8_t shortValue[sizeof(CK_ULONG) - 1] = {CKO_PRIVATE_KEY, 0x08};
    for (CK_ATTRIBUTE_TYPE type : {CKA_CLASS, CKA_KEY_TYPE}) {
        SCOPED_TRACE(type);
        fakeLibrary().clearCalls();
        Template t;
        t.bytes(CKA_VALUE, leaf).raw(type, shortValue, sizeof shortValue);
        EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, create(t));
        EXPECT_EQ(0u, deviceCalls());
        EXPECT_EQ(untouched, handle);
    }

    CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE a = untouched, b = untouched;
    Template good, shortType, shortBits;
    good.boolean(CKA_TOKEN, true);
    shortType.raw(CKA_KEY_TYPE, shortValue, sizeof shortValue);
    shortBits.raw(CKA_MODULUS_BITS, shortValue, sizeof shortValue);
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_GenerateKeyPair(session, &mechanism, good.data(), 1,
                                                                  shortType.data(), 1, &a, &b));
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_GenerateKeyPair(session, &mechanism, shortBits.data(), 1,
                                                                  good.data(), 1, &a, &b));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_generateKeyPair"));
    EXPECT_EQ(untouched, a);
}

// A device that reports success but lists no new record: no handle is handed out.
TEST_F(CreationTemplates, ImportedButNotListedLeavesTheHandle) {
    for (CK_OBJECT_CLASS objectClass : {CKO_CERTIFICATE, CKO_PRIVATE_KEY}) {
        SCOPED_TRACE(objectClass);
        fakeLibrary().setResult(objectClass == CKO_CERTIFICATE ? "zelmor_importCertificate" : "zelmor_importPfx", 0);
        Template t = objectOfClass(objectClass);
        EXPECT_EQ(CKR_OK, create(t));
        EXPECT_EQ(untouched, handle);
    }
}

}  // namespace
