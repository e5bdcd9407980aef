// Key-pair generation: what the templates turn into, and the refusals.
#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

const Bytes p256{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const Bytes p384{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};
const Bytes p521{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};
const Bytes secp256k1{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x0A};

class KeyGeneration : public CreationTest {
protected:
    // Both templates start with CKA_TOKEN, which the module ignores: they may not be empty.
    CK_RV generate(Template& publicTemplate, Template& privateTemplate) {
        CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        publicTemplate.boolean(CKA_TOKEN, true);
        privateTemplate.boolean(CKA_TOKEN, true);
        return f()->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.count(),
                                      privateTemplate.data(), privateTemplate.count(), &publicKey, &privateKey);
    }
    CK_RV generate() {
        Template publicTemplate, privateTemplate;
        return generate(publicTemplate, privateTemplate);
    }
    // The request record the device library received.
    ZelmorKeyPair request() const { return fakeLibrary().calls("zelmor_generateKeyPair").at(0).keyPair; }

    CK_OBJECT_HANDLE publicKey = untouched;
    CK_OBJECT_HANDLE privateKey = untouched;
};

TEST_F(KeyGeneration, TemplatesDecideKindAndUsage) {
    const long none = -1;
    struct Case {
        const char* name;
        long privateType, publicType;  // CKA_KEY_TYPE in each template, none for absent
        CK_ULONG bits;                 // CKA_MODULUS_BITS, 0 for none
        const Bytes* curve;            // CKA_EC_PARAMS, null for none
        int sign, decrypt;             // -1 absent, else the CK_BBOOL
        uint32_t kind, usage;
    };
    const Case cases[] = {
        {"defaults", none, none, 0, nullptr, -1, -1, 2, 1},
        {"rsa1024", none, none, 1024, nullptr, 1, -1, 1, 1},
        {"rsa2048", none, none, 2048, nullptr, -1, 1, 2, 2},
        {"rsa3072", CKK_RSA, none, 3072, nullptr, 1, 1, 3, 3},
        {"rsa4096", none, none, 4096, nullptr, 0, 0, 4, 1},
        {"ec default curve", CKK_EC, none, 0, nullptr, -1, -1, 5, 1},
        {"p256", CKK_EC, none, 0, &p256, 1, -1, 5, 1},
        {"p384", CKK_EC, none, 0, &p384, -1, -1, 6, 1},
        {"p521", CKK_EC, none, 0, &p521, 0, 1, 7, 2},
        {"ec ignores bits", CKK_EC, none, 1536, &p384, -1, -1, 6, 1},
        {"rsa ignores curve", none, none, 0, &secp256k1, -1, -1, 2, 1},
        {"public key type is ignored", none, CKK_EC, 0, &p384, -1, -1, 2, 1},
        {"dsa reads nothing from the public template", CKK_DSA, none, 1536, nullptr, -1, -1, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeLibrary().clearCalls();
        Template publicTemplate, privateTemplate;
        if (c.privateType != none) privateTemplate.ulong(CKA_KEY_TYPE, static_cast<CK_ULONG>(c.privateType));
        if (c.publicType != none) publicTemplate.ulong(CKA_KEY_TYPE, static_cast<CK_ULONG>(c.publicType));
        if (c.bits != 0) publicTemplate.ulong(CKA_MODULUS_BITS, c.bits);
        if (c.curve != nullptr) publicTemplate.bytes(CKA_EC_PARAMS, *c.curve);
        if (c.sign >= 0) privateTemplate.boolean(CKA_SIGN, c.sign == 1);
        if (c.decrypt >= 0) privateTemplate.boolean(CKA_DECRYPT, c.decrypt == 1);
        ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
        ZelmorKeyPair sent = request();
        EXPECT_EQ(c.kind, sent.keyKind);
        EXPECT_EQ(c.usage, sent.usageFlags);
        EXPECT_EQ(0u, sent.number);
        EXPECT_EQ(0, sent.idLength);
        EXPECT_EQ(0, sent.keyFlag);
        EXPECT_EQ(publicKey, privateKey + 0x1000);
    }
}

// Under the standards setting a private-key template without CKA_KEY_TYPE
// takes the key type from the mechanism and may be empty; without it the
// default stays RSA and an empty template is refused.
TEST_F(KeyGeneration, StandardsSettingTakesTheKeyTypeFromTheMechanism) {
    const long none = -1;
    enum Private { WithSign, Empty, EmptyNull, NullWithCount };
    struct Case {
        const char* name;
        int setting;
        CK_MECHANISM_TYPE mechanism;
        long privateType;
        Private privateTemplate;
        CK_RV rv;
        uint32_t kind;  // the public template offers P-384 and 3072 bits
    };
    const Case cases[] = {
        {"off: EC mechanism gives RSA", noStandardsMode, CKM_EC_KEY_PAIR_GEN, none, WithSign, CKR_OK, 3},
        {"off: empty private template", noStandardsMode, CKM_EC_KEY_PAIR_GEN, none, Empty, CKR_ARGUMENTS_BAD, 0},
        {"on: EC mechanism", 1, CKM_EC_KEY_PAIR_GEN, none, WithSign, CKR_OK, 6},
        {"on: EC mechanism, empty private template", 1, CKM_EC_KEY_PAIR_GEN, none, Empty, CKR_OK, 6},
        {"on: EC mechanism, null private template", 1, CKM_EC_KEY_PAIR_GEN, none, EmptyNull, CKR_OK, 6},
        {"on: RSA mechanism, empty private template", 1, CKM_RSA_PKCS_KEY_PAIR_GEN, none, Empty, CKR_OK, 3},
        {"on: the template's key type wins", 1, CKM_EC_KEY_PAIR_GEN, CKK_RSA, WithSign, CKR_OK, 3},
        {"on: another mechanism gives RSA", 1, CKM_DSA_KEY_PAIR_GEN, none, WithSign, CKR_OK, 3},
        {"on: null private template with a count", 1, CKM_EC_KEY_PAIR_GEN, none, NullWithCount, CKR_ARGUMENTS_BAD, 0},
    };
    int setting = noStandardsMode;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.setting != setting) {
            setting = c.setting;
            reinitialiseWithStandardsMode(setting);
            session = openSession(true);
            login(session);
        }
        fakeLibrary().clearCalls();
        Template publicTemplate, privateTemplate;
        publicTemplate.bytes(CKA_EC_PARAMS, p384).ulong(CKA_MODULUS_BITS, 3072);
        if (c.privateType != none) privateTemplate.ulong(CKA_KEY_TYPE, static_cast<CK_ULONG>(c.privateType));
        if (c.privateTemplate == WithSign) privateTemplate.boolean(CKA_SIGN, true);
        CK_MECHANISM mechanism{c.mechanism, nullptr, 0};
        CK_ATTRIBUTE unused{CKA_TOKEN, nullptr, 0};
        CK_ATTRIBUTE_PTR privateAttributes = privateTemplate.data();
        CK_ULONG privateCount = privateTemplate.count();
        if (c.privateTemplate != WithSign) {
            privateAttributes = c.privateTemplate == Empty ? &unused : nullptr;
            privateCount = c.privateTemplate == NullWithCount ? 1 : 0;
        }
        EXPECT_EQ(c.rv, f()->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.count(),
                                               privateAttributes, privateCount, &publicKey, &privateKey));
        if (c.rv != CKR_OK) {
            EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_generateKeyPair"));
            continue;
        }
        EXPECT_EQ(c.kind, request().keyKind);
        EXPECT_EQ(1u, request().usageFlags);
    }
}

TEST_F(KeyGeneration, HandlesComeFromTheNumberTheDeviceAssignsAndThePasswordFromTheLogin) {
    fakeLibrary().addKeyPair(testing_support::defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "a", Bytes()));
    fakeLibrary().addKeyPair(testing_support::defaultDevice, makeFakeKeyPair(1, keyKindRsa2048, "b", Bytes()));
    ASSERT_EQ(CKR_OK, generate());
    EXPECT_EQ(0x70001000u + 2, publicKey);
    EXPECT_EQ(0x70000000u + 2, privateKey);
    EXPECT_EQ(testing_support::defaultPin, fakeLibrary().calls("zelmor_generateKeyPair").at(0).password);

    // A public session without a login passes the empty password.
    f()->C_Logout(session);
    ASSERT_EQ(CKR_OK, generate());
    EXPECT_EQ("", fakeLibrary().calls("zelmor_generateKeyPair").at(1).password);
}

TEST_F(KeyGeneration, LabelAndIdAreCutTo128Bytes) {
    for (std::size_t length : {std::size_t(128), std::size_t(200)}) {
        SCOPED_TRACE(length);
        fakeLibrary().clearCalls();
        Template publicTemplate, privateTemplate;
        privateTemplate.text(CKA_LABEL, "earlier label, longer than the later one")
            .text(CKA_LABEL, std::string(length, 'L'))
            .bytes(CKA_ID, filled(length, 0));
        ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
        ZelmorKeyPair sent = request();
        EXPECT_EQ(std::string(128, 'L'), std::string(sent.label));  // the NUL sits in the byte after the field
        EXPECT_EQ(128, sent.idLength);
        EXPECT_EQ(filled(128, 0), Bytes(sent.id, sent.id + 128));
    }
    fakeLibrary().clearCalls();
    Template publicTemplate, privateTemplate;
    privateTemplate.text(CKA_LABEL, "a long label first").text(CKA_LABEL, "short");
    ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
    ZelmorKeyPair sent = request();
    EXPECT_EQ("short", std::string(sent.label));
    for (std::size_t i = 5; i < sizeof sent.label; ++i) EXPECT_EQ(0, sent.label[i]);
}

TEST_F(KeyGeneration, UnsupportedSizesAndCurvesAreRefusedBeforeTheDevice) {
    const Bytes namedCurveText{'P', '-', '2', '5', '6'};
    struct Case {
        const char* name;
        CK_ULONG firstBits;       // RSA when curve is null
        const Bytes* firstCurve;  // EC otherwise
    };
    for (Case c : {Case{"rsa 1536", 1536, nullptr}, Case{"rsa 0", 0, nullptr}, Case{"secp256k1", 0, &secp256k1},
                   Case{"curve name as text", 0, &namedCurveText}}) {
        SCOPED_TRACE(c.name);
        fakeLibrary().clearCalls();
        Template publicTemplate, privateTemplate;
        if (c.firstCurve != nullptr) {
            privateTemplate.ulong(CKA_KEY_TYPE, CKK_EC);
            publicTemplate.bytes(CKA_EC_PARAMS, *c.firstCurve).bytes(CKA_EC_PARAMS, p256);  // a later valid one does not help
        } else {
            publicTemplate.ulong(CKA_MODULUS_BITS, c.firstBits).ulong(CKA_MODULUS_BITS, 2048);
        }
        EXPECT_EQ(CKR_MECHANISM_INVALID, generate(publicTemplate, privateTemplate));
        EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_generateKeyPair"));
        EXPECT_EQ(untouched, publicKey);
        EXPECT_EQ(untouched, privateKey);
    }
    // The last valid occurrence wins.
    Template publicTemplate, privateTemplate;
    publicTemplate.ulong(CKA_MODULUS_BITS, 1024).ulong(CKA_MODULUS_BITS, 4096);
    ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
    EXPECT_EQ(4u, request().keyKind);
}

TEST_F(KeyGeneration, ArgumentChecksInOrder) {
    Template publicTemplate, privateTemplate;
    publicTemplate.boolean(CKA_TOKEN, true);
    privateTemplate.boolean(CKA_TOKEN, true);
    CK_MECHANISM plain{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    CK_BYTE parameter = 0;
    CK_MECHANISM withParameter{CKM_RSA_PKCS_KEY_PAIR_GEN, &parameter, 1};
    CK_MECHANISM lengthOnly{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 1};
    CK_ATTRIBUTE_PTR pub = publicTemplate.data(), priv = privateTemplate.data();
    CK_OBJECT_HANDLE a = 0, b = 0;

    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GenerateKeyPair(0x12345678, &plain, pub, 1, priv, 1, &a, &b));
    CK_SESSION_HANDLE readOnly = openSession(false);
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GenerateKeyPair(readOnly, nullptr, pub, 1, priv, 1, &a, &b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, nullptr, pub, 1, priv, 1, &a, &b));
    EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, f()->C_GenerateKeyPair(session, &withParameter, nullptr, 0, priv, 1, &a, &b));
    EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, f()->C_GenerateKeyPair(session, &lengthOnly, pub, 1, priv, 1, &a, &b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, nullptr, 1, priv, 1, &a, &b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, pub, 0, priv, 1, &a, &b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, pub, 1, nullptr, 1, &a, &b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, pub, 1, priv, 0, &a, &b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, pub, 1, priv, 1, nullptr, &b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, pub, 1, priv, 1, &a, nullptr));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_generateKeyPair"));
    EXPECT_EQ(CKR_OK, f()->C_GenerateKeyPair(session, &plain, pub, 1, priv, 1, &a, &b));
}

TEST_F(KeyGeneration, DeviceRefusalIsMappedAndLeavesTheHandles) {
    for (int32_t result : {40, 242, 48}) {
        SCOPED_TRACE(result);
        fakeLibrary().setResult("zelmor_generateKeyPair", result);
        LogWatch log;
        EXPECT_EQ(result == 48 ? CKR_FUNCTION_FAILED : CKR_DEVICE_MEMORY, generate());
        EXPECT_TRUE(log.contains("Generate key pair failed : " + std::to_string(result)));
        EXPECT_EQ(untouched, publicKey);
        EXPECT_EQ(untouched, privateKey);
    }
}

}  // namespace
