// Key-pair generation: what the templates turn into, and the refusals.
#include <cstring>

#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

const Bytes p256{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const Bytes p384{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};
const Bytes p521{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};
const Bytes secp256k1{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x0A};

class KeyGeneration : public CreationTest {
protected:
    CK_RV generate(Template& publicTemplate, Template& privateTemplate, CK_SESSION_HANDLE in = 0) {
        CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        return f()->C_GenerateKeyPair(in != 0 ? in : session, &mechanism, publicTemplate.data(), publicTemplate.count(),
                                      privateTemplate.data(), privateTemplate.count(), &publicKey, &privateKey);
    }
    // The request record the device library received.
    ZelmorKeyPair request() const { return fakeLibrary().calls("zelmor_generateKeyPair").at(0).keyPair; }

    CK_OBJECT_HANDLE publicKey = 0xDEADBEEF;
    CK_OBJECT_HANDLE privateKey = 0xDEADBEEF;
};

// Templates need at least one entry; CKA_TOKEN is one the module ignores.
Template base() {
    Template t;
    t.boolean(CKA_TOKEN, true);
    return t;
}

TEST_F(KeyGeneration, TemplatesDecideKindAndUsage) {
    struct Case {
        const char* name;
        bool ec;                // CKA_KEY_TYPE CKK_EC in the private template
        CK_ULONG bits;          // CKA_MODULUS_BITS, 0 for none
        const Bytes* curve;     // CKA_EC_PARAMS, null for none
        int sign, decrypt;      // -1 absent, else the CK_BBOOL
        uint32_t kind, usage;
    };
    const Case cases[] = {
        {"defaults", false, 0, nullptr, -1, -1, 2, 1},
        {"rsa1024", false, 1024, nullptr, 1, -1, 1, 1},
        {"rsa2048", false, 2048, nullptr, -1, 1, 2, 2},
        {"rsa3072", false, 3072, nullptr, 1, 1, 3, 3},
        {"rsa4096", false, 4096, nullptr, 0, 0, 4, 1},
        {"ec default curve", true, 0, nullptr, -1, -1, 5, 1},
        {"p256", true, 0, &p256, 1, -1, 5, 1},
        {"p384", true, 0, &p384, -1, -1, 6, 1},
        {"p521", true, 0, &p521, 0, 1, 7, 2},
        {"ec ignores bits", true, 1536, &p384, -1, -1, 6, 1},
        {"rsa ignores curve", false, 0, &secp256k1, -1, -1, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeLibrary().clearCalls();
        Template publicTemplate = base();
        Template privateTemplate = base();
        if (c.ec) privateTemplate.ulong(CKA_KEY_TYPE, CKK_EC);
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

TEST_F(KeyGeneration, HandlesComeFromTheNumberTheDeviceAssigns) {
    fakeLibrary().addKeyPair(testing_support::defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "a", Bytes()));
    fakeLibrary().addKeyPair(testing_support::defaultDevice, makeFakeKeyPair(1, keyKindRsa2048, "b", Bytes()));
    Template publicTemplate = base(), privateTemplate = base();
    LogWatch log;
    ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
    EXPECT_EQ(0x70001000u + 2, publicKey);
    EXPECT_EQ(0x70000000u + 2, privateKey);
    EXPECT_EQ(testing_support::defaultPin, fakeLibrary().calls("zelmor_generateKeyPair").at(0).password);
    EXPECT_TRUE(log.contains("C_GenerateKeyPair - keytype : 0"));
    EXPECT_TRUE(log.contains("C_GenerateKeyPair - exit"));
}

TEST_F(KeyGeneration, KeyTypeComesFromThePrivateTemplateOnly) {
    Template publicTemplate = base(), privateTemplate = base();
    publicTemplate.ulong(CKA_KEY_TYPE, CKK_EC).bytes(CKA_EC_PARAMS, p384);
    ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
    EXPECT_EQ(2u, request().keyKind);

    fakeLibrary().clearCalls();
    Template dsaPublic = base(), dsaPrivate = base();
    dsaPrivate.ulong(CKA_KEY_TYPE, CKK_DSA);
    dsaPublic.ulong(CKA_MODULUS_BITS, 1536);  // nothing is read from the public template for DSA
    LogWatch log;
    ASSERT_EQ(CKR_OK, generate(dsaPublic, dsaPrivate));
    EXPECT_EQ(2u, request().keyKind);
    EXPECT_TRUE(log.contains("C_GenerateKeyPair - keytype : 1"));
}

TEST_F(KeyGeneration, LabelAndIdAreCutTo128Bytes) {
    for (std::size_t length : {std::size_t(128), std::size_t(200)}) {
        SCOPED_TRACE(length);
        fakeLibrary().clearCalls();
        Template publicTemplate = base(), privateTemplate = base();
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
    Template publicTemplate = base(), privateTemplate = base();
    privateTemplate.text(CKA_LABEL, "a long label first").text(CKA_LABEL, "short");
    ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
    ZelmorKeyPair sent = request();
    EXPECT_EQ("short", std::string(sent.label));
    for (std::size_t i = 5; i < sizeof sent.label; ++i) EXPECT_EQ(0, sent.label[i]);
}

TEST_F(KeyGeneration, UnsupportedSizesAndCurvesAreRefusedBeforeTheDevice) {
    struct Case {
        const char* name;
        bool ec;
        CK_ULONG firstBits;
        const Bytes* firstCurve;
        const char* logged;
    };
    const Bytes namedCurveText{'P', '-', '2', '5', '6'};
    const Case cases[] = {
        {"rsa 1536", false, 1536, nullptr, "C_GenerateKeyPair - modulusBits : 1536"},
        {"rsa 0", false, 0, nullptr, "C_GenerateKeyPair - modulusBits : 0"},
        {"secp256k1", true, 0, &secp256k1, nullptr},
        {"curve name as text", true, 0, &namedCurveText, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeLibrary().clearCalls();
        Template publicTemplate = base(), privateTemplate = base();
        if (c.ec) {
            privateTemplate.ulong(CKA_KEY_TYPE, CKK_EC);
            publicTemplate.bytes(CKA_EC_PARAMS, *c.firstCurve).bytes(CKA_EC_PARAMS, p256);  // a later valid one does not help
        } else {
            publicTemplate.ulong(CKA_MODULUS_BITS, c.firstBits).ulong(CKA_MODULUS_BITS, 2048);
        }
        LogWatch log;
        EXPECT_EQ(CKR_MECHANISM_INVALID, generate(publicTemplate, privateTemplate));
        if (c.logged != nullptr) {
            EXPECT_TRUE(log.contains(c.logged));
        }
        EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_generateKeyPair"));
        EXPECT_EQ(0xDEADBEEFu, publicKey);
        EXPECT_EQ(0xDEADBEEFu, privateKey);
    }
    // The last valid occurrence wins.
    Template publicTemplate = base(), privateTemplate = base();
    publicTemplate.ulong(CKA_MODULUS_BITS, 1024).ulong(CKA_MODULUS_BITS, 4096);
    ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
    EXPECT_EQ(4u, request().keyKind);
}

TEST_F(KeyGeneration, ArgumentChecksInOrder) {
    Template publicTemplate = base(), privateTemplate = base();
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
        Template publicTemplate = base(), privateTemplate = base();
        LogWatch log;
        EXPECT_EQ(result == 48 ? CKR_FUNCTION_FAILED : CKR_DEVICE_MEMORY, generate(publicTemplate, privateTemplate));
        EXPECT_TRUE(log.contains("Generate key pair failed : " + std::to_string(result)));
        EXPECT_EQ(0xDEADBEEFu, publicKey);
        EXPECT_EQ(0xDEADBEEFu, privateKey);
    }
}

TEST_F(KeyGeneration, PublicSessionWithoutLoginPassesTheEmptyPassword) {
    f()->C_Logout(session);
    Template publicTemplate = base(), privateTemplate = base();
    ASSERT_EQ(CKR_OK, generate(publicTemplate, privateTemplate));
    EXPECT_EQ("", fakeLibrary().calls("zelmor_generateKeyPair").at(0).password);
}

}  // namespace
