// C_GetAttributeValue and C_GetObjectSize through the module.
#include "ObjectsTest.h"

using namespace objects_test;
using testing_support::defaultDevice;

namespace {

class AttributeReadTest : public ObjectsTest {};

Bytes ulongBytes(CK_ULONG value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}
const Bytes yes{1};
const Bytes no{0};
const Bytes none{};

}  // namespace

TEST_F(AttributeReadTest, AttributeTableOfEachObjectClass) {
    ZelmorKeyPair keyPair = addKeyPair(7, keyKindRsa3072, "key label", {0x11, 0x22});
    fakeLibrary().edit([&](FakeState& state) { state.devices[defaultDevice].keyPairs[0].usageFlags = keyUsageSign; });
    Bytes der = bytesOf("certificate-der");
    addCertificate(2, der, "cert label", {0x33});
    fakeLibrary().edit([&](FakeState& state) {
        state.certificateInfo[der].issuer = bytesOf("issuer-der");
        state.certificateInfo[der].serial = bytesOf("serial-der");
        state.certificateInfo[der].subject = bytesOf("subject-der");
    });
    const Bytes publicValue(keyPair.publicValue, keyPair.publicValue + keyPair.publicValueLength);
    const CK_OBJECT_HANDLE privateKey = privateBase + 7, publicKey = publicBase + 7,
                           certificate = certificateBase + 2;

    struct Row {
        CK_ATTRIBUTE_TYPE type;
        Bytes certificate, privateKey, publicKey;
    } rows[] = {
        {CKA_CLASS, ulongBytes(CKO_CERTIFICATE), ulongBytes(CKO_PRIVATE_KEY), ulongBytes(CKO_PUBLIC_KEY)},
        {CKA_TOKEN, yes, yes, yes},
        {CKA_PRIVATE, no, yes, no},
        {CKA_LABEL, bytesOf("cert label"), bytesOf("key label"), bytesOf("key label")},
        {CKA_VALUE, der, publicValue, publicValue},
        {CKA_OBJECT_ID, ulongBytes(certificate), ulongBytes(privateKey), ulongBytes(publicKey)},
        {CKA_CERTIFICATE_TYPE, ulongBytes(CKC_X_509), ulongBytes(0), ulongBytes(0)},
        {CKA_ISSUER, bytesOf("issuer-der"), none, none},
        {CKA_SERIAL_NUMBER, bytesOf("serial-der"), none, none},
        {CKA_TRUSTED, yes, yes, yes},
        {CKA_KEY_TYPE, ulongBytes(CKK_RSA), ulongBytes(CKK_RSA), ulongBytes(CKK_RSA)},
        {CKA_SUBJECT, bytesOf("subject-der"), none, none},
        {CKA_ID, Bytes{0x33}, Bytes{0x11, 0x22}, Bytes{0x11, 0x22}},
        {CKA_SENSITIVE, no, yes, no},
        {CKA_ENCRYPT, no, no, no},
        {CKA_DECRYPT, no, no, no},
        {CKA_WRAP, no, no, no},
        {CKA_SIGN, no, yes, no},
        {CKA_VERIFY, no, no, yes},
        {CKA_VERIFY_RECOVER, no, no, no},
        {CKA_DERIVE, no, no, no},
        {CKA_MODULUS, der, publicValue, publicValue},
        {CKA_MODULUS_BITS, ulongBytes(2048), ulongBytes(3072), ulongBytes(3072)},
        {CKA_PUBLIC_EXPONENT, Bytes{1, 0, 1}, Bytes{1, 0, 1}, Bytes{1, 0, 1}},
        {CKA_EXTRACTABLE, yes, no, yes},
        {CKA_LOCAL, yes, yes, yes},
        {CKA_KEY_GEN_MECHANISM, ulongBytes(0), ulongBytes(CKM_RSA_PKCS_KEY_PAIR_GEN),
         ulongBytes(CKM_RSA_PKCS_KEY_PAIR_GEN)},
        {CKA_MODIFIABLE, yes, no, no},
        {CKA_EC_PARAMS, none, none, none},
        {CKA_START_DATE, none, none, none},
        {CKA_PRIVATE_EXPONENT, none, none, none},
        {CKA_VENDOR_DEFINED, none, none, none},
    };
    CK_SESSION_HANDLE session = openSession();
    for (const Row& row : rows) {
        EXPECT_EQ(row.certificate, readAttribute(session, certificate, row.type)) << "certificate type " << row.type;
        EXPECT_EQ(row.privateKey, readAttribute(session, privateKey, row.type)) << "private key type " << row.type;
        EXPECT_EQ(row.publicKey, readAttribute(session, publicKey, row.type)) << "public key type " << row.type;
    }
}

TEST_F(AttributeReadTest, KeyKindGivesTypeSizeMechanismAndCurve) {
    const Bytes p256{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    const Bytes p384{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};
    const Bytes p521{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};
    struct Kind {
        uint32_t keyKind;
        CK_KEY_TYPE keyType;
        CK_ULONG bits;
        CK_MECHANISM_TYPE mechanism;
        Bytes curve;
    } kinds[] = {
        {1, CKK_RSA, 1024, CKM_RSA_PKCS_KEY_PAIR_GEN, {}}, {2, CKK_RSA, 2048, CKM_RSA_PKCS_KEY_PAIR_GEN, {}},
        {3, CKK_RSA, 3072, CKM_RSA_PKCS_KEY_PAIR_GEN, {}}, {4, CKK_RSA, 4096, CKM_RSA_PKCS_KEY_PAIR_GEN, {}},
        {5, CKK_EC, 256, CKM_EC_KEY_PAIR_GEN, p256},       {6, CKK_EC, 384, CKM_EC_KEY_PAIR_GEN, p384},
        {7, CKK_EC, 521, CKM_EC_KEY_PAIR_GEN, p521},       {0, CKK_RSA, 2048, CKM_RSA_PKCS_KEY_PAIR_GEN, {}},
        {9, CKK_RSA, 2048, CKM_RSA_PKCS_KEY_PAIR_GEN, {}},
    };
    uint32_t number = 0;
    for (const Kind& kind : kinds) addKeyPair(number++, kind.keyKind);
    CK_SESSION_HANDLE session = openSession();
    number = 0;
    for (const Kind& kind : kinds) {
        for (CK_OBJECT_HANDLE object : {privateBase + number, publicBase + number}) {
            EXPECT_EQ(kind.keyType, readUlong(session, object, CKA_KEY_TYPE)) << "kind " << kind.keyKind;
            EXPECT_EQ(kind.bits, readUlong(session, object, CKA_MODULUS_BITS)) << "kind " << kind.keyKind;
            EXPECT_EQ(kind.mechanism, readUlong(session, object, CKA_KEY_GEN_MECHANISM)) << "kind " << kind.keyKind;
            EXPECT_EQ(kind.curve, readAttribute(session, object, CKA_EC_PARAMS)) << "kind " << kind.keyKind;
        }
        ++number;
    }
}

TEST_F(AttributeReadTest, UsageFlagsGiveSignDecryptVerifyEncrypt) {
    for (uint32_t flags = 0; flags < 4; ++flags) {
        ZelmorKeyPair keyPair = makeFakeKeyPair(flags, keyKindRsa2048, "", {});
        keyPair.usageFlags = flags;
        fakeLibrary().addKeyPair(defaultDevice, keyPair);
    }
    CK_SESSION_HANDLE session = openSession();
    for (uint32_t flags = 0; flags < 4; ++flags) {
        const Bytes sign = (flags & 1) ? yes : no, decrypt = (flags & 2) ? yes : no;
        EXPECT_EQ(sign, readAttribute(session, privateBase + flags, CKA_SIGN)) << flags;
        EXPECT_EQ(decrypt, readAttribute(session, privateBase + flags, CKA_DECRYPT)) << flags;
        EXPECT_EQ(sign, readAttribute(session, publicBase + flags, CKA_VERIFY)) << flags;
        EXPECT_EQ(decrypt, readAttribute(session, publicBase + flags, CKA_ENCRYPT)) << flags;
    }
}

TEST_F(AttributeReadTest, LengthQueriesAndShortBuffers) {
    addKeyPair(0, keyKindRsa2048, "abc", {0x01, 0x02, 0x03, 0x04});
    CK_SESSION_HANDLE session = openSession();

    CK_ATTRIBUTE query[] = {attribute(CKA_LABEL, nullptr, 0), attribute(CKA_ID, nullptr, 77),
                            attribute(CKA_CLASS, nullptr, 0), attribute(CKA_START_DATE, nullptr, 5)};
    ASSERT_EQ(CKR_OK, f()->C_GetAttributeValue(session, privateBase, query, 4));
    EXPECT_EQ(3u, query[0].ulValueLen);
    EXPECT_EQ(4u, query[1].ulValueLen);
    EXPECT_EQ(sizeof(CK_ULONG), query[2].ulValueLen);
    EXPECT_EQ(0u, query[3].ulValueLen);

    // An exact buffer is filled and nothing beyond it is touched.
    char label[4] = {'x', 'x', 'x', 'x'};
    CK_ATTRIBUTE exact = attribute(CKA_LABEL, label, 3);
    ASSERT_EQ(CKR_OK, f()->C_GetAttributeValue(session, privateBase, &exact, 1));
    EXPECT_EQ(0, std::memcmp(label, "abcx", 4));

    // The first short entry ends the call: entries before it are filled, it
    // keeps its length, later ones are untouched.
    CK_ULONG objectClass = 0;
    CK_BYTE value[1] = {0xEE};
    CK_BYTE id[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    CK_ATTRIBUTE partial[] = {attribute(CKA_CLASS, &objectClass, sizeof objectClass),
                              attribute(CKA_VALUE, value, 1), attribute(CKA_ID, id, 4), attribute(CKA_LABEL, nullptr, 9)};
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetAttributeValue(session, privateBase, partial, 4));
    EXPECT_EQ(CKO_PRIVATE_KEY, objectClass);
    EXPECT_EQ(sizeof(CK_ULONG), partial[0].ulValueLen);
    EXPECT_EQ(1u, partial[1].ulValueLen);
    EXPECT_EQ(0xEE, value[0]);
    EXPECT_EQ(0xEE, id[0]);
    EXPECT_EQ(4u, partial[2].ulValueLen);
    EXPECT_EQ(9u, partial[3].ulValueLen);

    // A CK_ULONG value needs sizeof(CK_ULONG) bytes.
    uint32_t narrow = 0;
    CK_ATTRIBUTE shortClass = attribute(CKA_CLASS, &narrow, sizeof narrow);
    if (sizeof(CK_ULONG) > sizeof narrow) {
        EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetAttributeValue(session, privateBase, &shortClass, 1));
    }
}

TEST_F(AttributeReadTest, CertificateFieldsAreAskedOfTheDeviceEachTime) {
    Bytes der = bytesOf("der-bytes");
    addCertificate(0, der);
    fakeLibrary().edit([&](FakeState& state) { state.certificateInfo[der].issuer = bytesOf("I"); });
    CK_SESSION_HANDLE session = openSession();
    fakeLibrary().clearCalls();
    EXPECT_EQ(bytesOf("I"), readAttribute(session, certificateBase, CKA_ISSUER));
    fakeLibrary().edit([&](FakeState& state) { state.certificateInfo[der].issuer = bytesOf("II"); });
    EXPECT_EQ(bytesOf("II"), readAttribute(session, certificateBase, CKA_ISSUER));
    auto calls = fakeLibrary().calls("zelmor_getCertificateIssuer");
    ASSERT_EQ(4u, calls.size());  // two calls per readAttribute
    EXPECT_EQ(der, calls[0].data);
    EXPECT_EQ(nullptr, calls[0].instance);
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getCertificateSerialDER"));
}

TEST_F(AttributeReadTest, UnknownObjectsAndBadArguments) {
    addKeyPair(0);
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    CK_ATTRIBUTE entry = attribute(CKA_CLASS, nullptr, 0);

    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetAttributeValue(session, privateBase, nullptr, 1));
    EXPECT_TRUE(logHas("ERROR", "C_GetAttributeValue template is null"));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetAttributeValue(session, privateBase, &entry, 0));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetAttributeValue(session + 100, privateBase, &entry, 1));

    struct Case {
        CK_OBJECT_HANDLE handle;
        std::string errorLine;
    } cases[] = {
        {0x6FFFFFFF, "Input hobject not valid in get attribute : 1879048191"},
        {0, "Input hobject not valid in get attribute : 0"},
        {privateBase + 1, "Key pair not found in get attribute : " + std::to_string(privateBase + 1)},
        {publicBase + 0xFFF, "Key pair not found in get attribute : " + std::to_string(publicBase + 0xFFF)},
        {certificateBase + 1, "Certificate not found in get attribute : " + std::to_string(certificateBase + 1)},
        {0xFFFFFFFF, "Certificate not found in get attribute : 4294967295"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetAttributeValue(session, c.handle, &entry, 1)) << c.handle;
        EXPECT_TRUE(logHas("ERROR", c.errorLine)) << c.errorLine;
    }
}

TEST_F(AttributeReadTest, ObjectSizeOfEachHandleRange) {
    addKeyPair(0, keyKindRsa2048);
    addKeyPair(1, keyKindEcP384);
    addCertificate(0, Bytes(700, 0x30));
    CK_SESSION_HANDLE session = openSession();
    CK_ULONG size = 0;
    struct Case {
        CK_OBJECT_HANDLE handle;
        CK_RV rv;
        CK_ULONG size;
    } cases[] = {
        {privateBase, CKR_OK, 512},
        {publicBase, CKR_OK, 256},
        {privateBase + 1, CKR_OK, 194},
        {publicBase + 1, CKR_OK, 97},
        {certificateBase, CKR_OK, 700},
        {privateBase + 2, CKR_OBJECT_HANDLE_INVALID, 0},
        {publicBase + 2, CKR_OBJECT_HANDLE_INVALID, 0},
        {certificateBase + 1, CKR_OBJECT_HANDLE_INVALID, 0},
        {5, CKR_OBJECT_HANDLE_INVALID, 0},
    };
    for (const Case& c : cases) {
        size = 0;
        EXPECT_EQ(c.rv, f()->C_GetObjectSize(session, c.handle, &size)) << c.handle;
        EXPECT_EQ(c.size, size) << c.handle;
    }
    EXPECT_TRUE(logHas("ERROR", "Private key not found in get object size : " + std::to_string(privateBase + 2)));
    EXPECT_TRUE(logHas("ERROR", "Public key not found in get object size : " + std::to_string(publicBase + 2)));
    EXPECT_TRUE(logHas("ERROR", "Certificate not found in get object size : 5"));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetObjectSize(session, certificateBase, nullptr));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetObjectSize(session + 100, certificateBase, &size));

    // Below the key range the certificate number wraps round 2^32.
    addCertificate(0x8FFFE005, Bytes(3, 0x30));
    EXPECT_EQ(CKR_OK, f()->C_GetObjectSize(session, 5, &size));
    EXPECT_EQ(3u, size);
}

TEST_F(AttributeReadTest, HostileRecordLengthsAreClamped) {
    ZelmorKeyPair longKey = makeFakeKeyPair(0, keyKindRsa2048, "", {});
    longKey.publicValueLength = 5000;
    longKey.idLength = 1000;
    std::memset(longKey.label, 'L', sizeof longKey.label);
    std::memset(longKey.padding1, 'P', sizeof longKey.padding1);
    fakeLibrary().addKeyPair(defaultDevice, longKey);
    ZelmorKeyPair negativeKey = makeFakeKeyPair(1, keyKindRsa2048, "n", {0x01});
    negativeKey.publicValueLength = INT32_MIN;
    negativeKey.idLength = -1;
    fakeLibrary().addKeyPair(defaultDevice, negativeKey);

    ZelmorCertificate longCertificate = makeFakeCertificate(0, bytesOf("der"), "", {});
    longCertificate.valueLength = 0x7FFFFFFF;
    longCertificate.idLength = 129;
    std::memset(longCertificate.label, 'C', sizeof longCertificate.label);
    std::memset(longCertificate.libraryFields, 'F', sizeof longCertificate.libraryFields);
    fakeLibrary().addCertificate(defaultDevice, longCertificate);
    ZelmorCertificate negativeCertificate = makeFakeCertificate(1, bytesOf("der"), "", {});
    negativeCertificate.valueLength = -3072;
    fakeLibrary().addCertificate(defaultDevice, negativeCertificate);

    CK_SESSION_HANDLE session = openSession();
    EXPECT_EQ(Bytes(longKey.publicValue, longKey.publicValue + 1024), readAttribute(session, privateBase, CKA_VALUE));
    EXPECT_EQ(1024u, readAttribute(session, publicBase, CKA_MODULUS).size());
    EXPECT_EQ(Bytes(longKey.id, longKey.id + 128), readAttribute(session, publicBase, CKA_ID));
    EXPECT_EQ(Bytes(128, 'L'), readAttribute(session, publicBase, CKA_LABEL));
    EXPECT_EQ(none, readAttribute(session, privateBase + 1, CKA_VALUE));
    EXPECT_EQ(none, readAttribute(session, privateBase + 1, CKA_ID));

    EXPECT_EQ(3072u, readAttribute(session, certificateBase, CKA_VALUE).size());
    EXPECT_EQ(128u, readAttribute(session, certificateBase, CKA_ID).size());
    EXPECT_EQ(Bytes(128, 'C'), readAttribute(session, certificateBase, CKA_LABEL));
    EXPECT_EQ(none, readAttribute(session, certificateBase + 1, CKA_VALUE));

    // The device library is given the clamped DER length as well.
    fakeLibrary().clearCalls();
    readAttribute(session, certificateBase, CKA_SUBJECT);
    auto calls = fakeLibrary().calls("zelmor_getCertificateSubject");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(3072u, calls[0].data.size());

    CK_ULONG size = 0;
    EXPECT_EQ(CKR_OK, f()->C_GetObjectSize(session, privateBase, &size));
    EXPECT_EQ(2048u, size);
    EXPECT_EQ(CKR_OK, f()->C_GetObjectSize(session, publicBase + 1, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(CKR_OK, f()->C_GetObjectSize(session, certificateBase, &size));
    EXPECT_EQ(3072u, size);
}

TEST_F(AttributeReadTest, ValuesAbove32BitsNameNothing) {
    if (sizeof(CK_ULONG) == 4) GTEST_SKIP() << "CK_ULONG has 32 bits here";
    addKeyPair(0);
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    CK_ATTRIBUTE entry = attribute(CKA_CLASS, nullptr, 0);
    fakeLibrary().clearCalls();
    for (uint32_t low : {0x70000000u, 0x70001000u, 0x70002000u}) {
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetAttributeValue(session, above32Bits(low), &entry, 1));
        EXPECT_TRUE(logHas("ERROR", "Input hobject not valid in get attribute : " + std::to_string(above32Bits(low))));
        CK_ULONG size = 0;
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetObjectSize(session, above32Bits(low), &size));
    }
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getKeyPairList"));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getCertificateList"));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID,
              f()->C_GetAttributeValue(above32Bits(static_cast<uint32_t>(session)), privateBase, &entry, 1));
}
