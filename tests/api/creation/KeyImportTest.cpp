// RSA private-key import through the device library's PFX import.
#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

class KeyImport : public CreationTest {
protected:
    // A private-key template carrying every RSA component.
    Template fullKey() {
        Template t;
        t.ulong(CKA_CLASS, CKO_PRIVATE_KEY)
            .bytes(CKA_MODULUS, filled(256, 0x10))
            .bytes(CKA_PUBLIC_EXPONENT, Bytes{1, 0, 1})
            .bytes(CKA_PRIVATE_EXPONENT, filled(256, 0x20))
            .bytes(CKA_PRIME_1, filled(128, 0x30))
            .bytes(CKA_PRIME_2, filled(128, 0x40))
            .bytes(CKA_EXPONENT_1, filled(128, 0x50))
            .bytes(CKA_EXPONENT_2, filled(128, 0x60))
            .bytes(CKA_COEFFICIENT, filled(128, 0x70))
            .bytes(CKA_VALUE, Bytes{9, 9})
            .text(CKA_LABEL, "imported")
            .bytes(CKA_ID, Bytes{0xA, 0xB});
        return t;
    }
};

TEST_F(KeyImport, OnlyModulusPrivateExponentAndFirstPrimeAreHandedOver) {
    fakeLibrary().addKeyPair(testing_support::defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "old", Bytes()));
    Template t = fullKey();
    t.text(CKA_LABEL, std::string(300, 'x')).bytes(CKA_ID, filled(300, 1));  // later, longer ones pass whole
    CK_OBJECT_HANDLE handle = untouched;
    ASSERT_EQ(CKR_OK, create(t, &handle));
    std::vector<FakeCall> calls = fakeLibrary().calls("zelmor_importPfx");
    ASSERT_EQ(1u, calls.size());
    const ImportPFXDetails& pfx = calls[0].pfx;
    EXPECT_EQ(filled(256, 0x10), pfx.modulus);
    EXPECT_EQ(filled(256, 0x20), pfx.privateExponent);
    EXPECT_EQ(filled(128, 0x30), pfx.prime1);
    for (const Bytes* empty : {&pfx.publicExponent, &pfx.prime2, &pfx.exponent1, &pfx.exponent2, &pfx.coefficient,
                               &pfx.keyPairIdentifier, &pfx.lastField}) {
        EXPECT_TRUE(empty->empty());
    }
    EXPECT_EQ(2, pfx.kind);
    EXPECT_EQ(std::string(300, 'x'), pfx.label);
    EXPECT_EQ(filled(300, 1), pfx.id);
    EXPECT_EQ(testing_support::defaultPin, calls[0].password);
    EXPECT_EQ(0x70000000u + 1, handle);  // number 1: the device already held key pair 0
}

TEST_F(KeyImport, KeyTypeDecidesOnlyBetweenEcAndRsa) {
    struct Case {
        const char* name;
        bool giveType;
        CK_ULONG type;
        CK_RV expected;
    };
    for (Case c : {Case{"absent", false, 0, CKR_OK}, Case{"DSA", true, CKK_DSA, CKR_OK},
                   Case{"EC", true, CKK_EC, CKR_FUNCTION_FAILED}}) {
        SCOPED_TRACE(c.name);
        fakeLibrary().clearCalls();
        Template t = fullKey();
        if (c.giveType) t.ulong(CKA_KEY_TYPE, c.type);
        CK_OBJECT_HANDLE handle = untouched;
        EXPECT_EQ(c.expected, create(t, &handle));
        EXPECT_EQ(c.expected == CKR_OK ? 1u : 0u, fakeLibrary().callCount("zelmor_importPfx"));
    }
}

TEST_F(KeyImport, MissingComponentIsRefusedBeforeTheDevice) {
    for (CK_ATTRIBUTE_TYPE missing : {CKA_MODULUS, CKA_PRIVATE_EXPONENT, CKA_PRIME_1}) {
        SCOPED_TRACE(missing);
        Template t;
        t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).bytes(CKA_PUBLIC_EXPONENT, Bytes{1, 0, 1}).bytes(CKA_PRIME_2, Bytes{7});
        for (CK_ATTRIBUTE_TYPE type : {CKA_MODULUS, CKA_PRIVATE_EXPONENT, CKA_PRIME_1}) {
            if (type != missing) t.bytes(type, Bytes{5, 6});
        }
        t.raw(missing, nullptr, 0);  // present but empty counts as absent
        CK_OBJECT_HANDLE handle = untouched;
        EXPECT_EQ(CKR_FUNCTION_FAILED, create(t, &handle));
        EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_importPfx"));
        EXPECT_EQ(untouched, handle);
    }
}

TEST_F(KeyImport, DeviceRefusalIsMapped) {
    for (int32_t result : {40, 242, 7, -3}) {
        SCOPED_TRACE(result);
        fakeLibrary().setResult("zelmor_importPfx", result);
        Template t = fullKey();
        LogWatch log;
        CK_OBJECT_HANDLE handle = untouched;
        EXPECT_EQ(result == 40 || result == 242 ? CKR_DEVICE_MEMORY : CKR_FUNCTION_FAILED, create(t, &handle));
        EXPECT_TRUE(log.contains("Import private key into device failed : " + std::to_string(result)));
        EXPECT_EQ(untouched, handle);
    }
}

}  // namespace
