// C_GetAttributeValue and C_GetObjectSize through the module.
#include <iterator>
#include <utility>

#include "ObjectsTest.h"

using namespace objects_test;

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

template <std::size_t N>
std::vector<CK_ULONG> lengthsOf(const CK_ATTRIBUTE (&entries)[N]) {
    std::vector<CK_ULONG> lengths;
    for (const CK_ATTRIBUTE& entry : entries) lengths.push_back(entry.ulValueLen);
    return lengths;
}

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
        {CKA_PRIVATE, no, yes, no},
        {CKA_LABEL, bytesOf("cert label"), bytesOf("key label"), bytesOf("key label")},
        {CKA_VALUE, der, publicValue, publicValue},
        {CKA_OBJECT_ID, ulongBytes(certificate), ulongBytes(privateKey), ulongBytes(publicKey)},
        {CKA_CERTIFICATE_TYPE, ulongBytes(CKC_X_509), ulongBytes(0), ulongBytes(0)},
        {CKA_ISSUER, bytesOf("issuer-der"), none, none},
        {CKA_SERIAL_NUMBER, bytesOf("serial-der"), none, none},
        {CKA_KEY_TYPE, ulongBytes(CKK_RSA), ulongBytes(CKK_RSA), ulongBytes(CKK_RSA)},
        {CKA_SUBJECT, bytesOf("subject-der"), none, none},
        {CKA_ID, Bytes{0x33}, Bytes{0x11, 0x22}, Bytes{0x11, 0x22}},
        {CKA_SENSITIVE, no, yes, no},
        {CKA_SIGN, no, yes, no},
        {CKA_VERIFY, no, no, yes},
        {CKA_MODULUS, der, publicValue, publicValue},
        {CKA_MODULUS_BITS, ulongBytes(2048), ulongBytes(3072), ulongBytes(3072)},
        {CKA_EXTRACTABLE, yes, no, yes},
        {CKA_KEY_GEN_MECHANISM, ulongBytes(0), ulongBytes(CKM_RSA_PKCS_KEY_PAIR_GEN),
         ulongBytes(CKM_RSA_PKCS_KEY_PAIR_GEN)},
        {CKA_MODIFIABLE, yes, no, no},
    };
    // Attributes every object answers alike.
    const std::pair<CK_ATTRIBUTE_TYPE, Bytes> same[] = {
        {CKA_TOKEN, yes},  {CKA_TRUSTED, yes},     {CKA_LOCAL, yes},       {CKA_PUBLIC_EXPONENT, {1, 0, 1}},
        {CKA_ENCRYPT, no}, {CKA_DECRYPT, no},      {CKA_WRAP, no},         {CKA_VERIFY_RECOVER, no},
        {CKA_DERIVE, no},  {CKA_EC_PARAMS, none},  {CKA_START_DATE, none}, {CKA_PRIVATE_EXPONENT, none},
        {CKA_VENDOR_DEFINED, none},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (const auto& entry : same) all.push_back({entry.first, entry.second, entry.second, entry.second});
    CK_SESSION_HANDLE session = openSession();
    for (const Row& row : all) {
        SCOPED_TRACE(row.type);
        EXPECT_EQ(row.certificate, readAttribute(session, certificate, row.type));
        EXPECT_EQ(row.privateKey, readAttribute(session, privateKey, row.type));
        EXPECT_EQ(row.publicKey, readAttribute(session, publicKey, row.type));
    }
}

TEST_F(AttributeReadTest, KeyKindAndUsageFlagsGiveTypeSizeMechanismCurveAndUse) {
    const Bytes p256{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    const Bytes p384{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};
    const Bytes p521{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};
    struct Kind {
        uint32_t keyKind, usageFlags;
        CK_KEY_TYPE keyType;
        CK_ULONG bits;
        Bytes curve;
    } kinds[] = {
        {1, 0, CKK_RSA, 1024, {}}, {2, 1, CKK_RSA, 2048, {}}, {3, 2, CKK_RSA, 3072, {}},
        {4, 3, CKK_RSA, 4096, {}}, {5, 1, CKK_EC, 256, p256}, {6, 2, CKK_EC, 384, p384},
        {7, 3, CKK_EC, 521, p521}, {0, 0, CKK_RSA, 2048, {}}, {9, 1, CKK_RSA, 2048, {}},
    };
    uint32_t number = 0;
    for (const Kind& kind : kinds) {
        ZelmorKeyPair keyPair = makeFakeKeyPair(number++, kind.keyKind, "", {});
        keyPair.usageFlags = kind.usageFlags;
        fakeLibrary().addKeyPair(defaultDevice, keyPair);
    }
    CK_SESSION_HANDLE session = openSession();
    number = 0;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(number);
        const CK_MECHANISM_TYPE mechanism = kind.keyType == CKK_EC ? CKM_EC_KEY_PAIR_GEN : CKM_RSA_PKCS_KEY_PAIR_GEN;
        for (CK_OBJECT_HANDLE object : {privateBase + number, publicBase + number}) {
            EXPECT_EQ(ulongBytes(kind.keyType), readAttribute(session, object, CKA_KEY_TYPE));
            EXPECT_EQ(ulongBytes(kind.bits), readAttribute(session, object, CKA_MODULUS_BITS));
            EXPECT_EQ(ulongBytes(mechanism), readAttribute(session, object, CKA_KEY_GEN_MECHANISM));
            EXPECT_EQ(kind.curve, readAttribute(session, object, CKA_EC_PARAMS));
        }
        const Bytes sign = (kind.usageFlags & 1) ? yes : no, decrypt = (kind.usageFlags & 2) ? yes : no;
        EXPECT_EQ(sign, readAttribute(session, privateBase + number, CKA_SIGN));
        EXPECT_EQ(decrypt, readAttribute(session, privateBase + number, CKA_DECRYPT));
        EXPECT_EQ(sign, readAttribute(session, publicBase + number, CKA_VERIFY));
        EXPECT_EQ(decrypt, readAttribute(session, publicBase + number, CKA_ENCRYPT));
        ++number;
    }
}

// The standards setting (any non-zero value) gives EC keys CKA_EC_POINT, the
// point as a DER OCTET STRING (long length form from 128 bytes on), and a
// search matches it; otherwise the point has length 0 and the criterion is
// ignored.
TEST_F(AttributeReadTest, StandardsSettingGivesEcKeysTheirPoint) {
    const ZelmorKeyPair p256 = addKeyPair(0, keyKindEcP256), p521 = addKeyPair(1, keyKindEcP521),
                        rsa = addKeyPair(2, keyKindRsa2048);
    auto pointOf = [](const ZelmorKeyPair& key, Bytes der) {
        der.insert(der.end(), key.publicValue, key.publicValue + key.publicValueLength);
        return der;
    };
    const Bytes p256Der = pointOf(p256, {0x04, 0x41}), p521Der = pointOf(p521, {0x04, 0x81, 0x85});
    Bytes p521Bare = pointOf(p521, {}), rsaModulus = pointOf(rsa, {}), p521DerCopy = p521Der;
    const Handles allPublic{publicBase, publicBase + 1, publicBase + 2};
    for (int setting : {noStandardsMode, 0, 1}) {
        SCOPED_TRACE(setting);
        const bool on = setting == 1;
        reinitialiseWithStandardsMode(setting);
        CK_SESSION_HANDLE session = openSession();
        for (CK_OBJECT_HANDLE key : {privateBase, publicBase}) {
            EXPECT_EQ(on ? p256Der : none, readAttribute(session, key, CKA_EC_POINT));
            EXPECT_EQ(on ? p521Der : none, readAttribute(session, key + 1, CKA_EC_POINT));
            EXPECT_EQ(none, readAttribute(session, key + 2, CKA_EC_POINT));
        }
        EXPECT_EQ(on ? Handles{publicBase + 1} : allPublic,
                  findByClass(session, CKO_PUBLIC_KEY, {attribute(CKA_EC_POINT, p521DerCopy.data(), 136)}));
        EXPECT_EQ(on ? Handles{publicBase + 1} : allPublic,
                  findByClass(session, CKO_PUBLIC_KEY, {attribute(CKA_EC_POINT, p521Bare.data(), 133)}));
        EXPECT_EQ(on ? Handles{} : allPublic,
                  findByClass(session, CKO_PUBLIC_KEY, {attribute(CKA_EC_POINT, rsaModulus.data(), 256)}));
    }
}

TEST_F(AttributeReadTest, LengthQueriesAndShortBuffers) {
    addKeyPair(0, keyKindRsa2048, "abc", {0x01, 0x02, 0x03, 0x04});
    CK_SESSION_HANDLE session = openSession();

    CK_ATTRIBUTE query[] = {attribute(CKA_LABEL, nullptr, 0), attribute(CKA_ID, nullptr, 77),
                            attribute(CKA_CLASS, nullptr, 0), attribute(CKA_START_DATE, nullptr, 5)};
    ASSERT_EQ(CKR_OK, f()->C_GetAttributeValue(session, privateBase, query, 4));
    EXPECT_EQ((std::vector<CK_ULONG>{3, 4, sizeof(CK_ULONG), 0}), lengthsOf(query));

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
    EXPECT_EQ((std::vector<CK_ULONG>{sizeof(CK_ULONG), 1, 4, 9}), lengthsOf(partial));
    EXPECT_EQ(0xEE, value[0]);
    EXPECT_EQ(0xEE, id[0]);

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
    CK_SESSION_HANDLE session = openSession();
    fakeLibrary().clearCalls();
    for (const char* issuer : {"I", "II"}) {
        fakeLibrary().edit([&](FakeState& state) { state.certificateInfo[der].issuer = bytesOf(issuer); });
        EXPECT_EQ(bytesOf(issuer), readAttribute(session, certificateBase, CKA_ISSUER));
    }
    auto calls = fakeLibrary().calls("zelmor_getCertificateIssuer");
    ASSERT_EQ(4u, calls.size());  // two calls per readAttribute
    EXPECT_EQ(der, calls[0].data);
    EXPECT_EQ(nullptr, calls[0].instance);
}

TEST_F(AttributeReadTest, UnknownObjectsAndBadArguments) {
    addKeyPair(0);
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    CK_ATTRIBUTE entry = attribute(CKA_CLASS, nullptr, 0);
    CK_ULONG size = 0;

    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetAttributeValue(session, privateBase, nullptr, 1));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetAttributeValue(session, privateBase, &entry, 0));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetAttributeValue(session + 100, privateBase, &entry, 1));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetObjectSize(session, certificateBase, nullptr));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetObjectSize(session + 100, certificateBase, &size));

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
        {5, "Input hobject not valid in get attribute : 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errorLine);
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetAttributeValue(session, c.handle, &entry, 1));
        EXPECT_TRUE(logHas("ERROR", c.errorLine));
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetObjectSize(session, c.handle, &size));
    }
}

TEST_F(AttributeReadTest, ObjectSizeOfEachKind) {
    addKeyPair(0, keyKindRsa2048);
    addKeyPair(1, keyKindEcP384);
    addCertificate(0, Bytes(700, 0x30));
    addCertificate(0x8FFFE005, Bytes(3, 0x30));  // below the key range the number wraps round 2^32
    CK_SESSION_HANDLE session = openSession();
    const std::pair<CK_OBJECT_HANDLE, CK_ULONG> sizes[] = {
        {privateBase, 512}, {publicBase, 256}, {privateBase + 1, 194}, {publicBase + 1, 97}, {certificateBase, 700}, {5, 3},
    };
    for (const auto& expected : sizes) {
        CK_ULONG size = 0;
        EXPECT_EQ(CKR_OK, f()->C_GetObjectSize(session, expected.first, &size)) << expected.first;
        EXPECT_EQ(expected.second, size) << expected.first;
    }
}

// Lengths from the device library are clamped to their fields in reads,
// sizes and search matching; numbers no handle can carry are not listed.
TEST_F(AttributeReadTest, HostileRecordsAreReadWithinTheirFields) {
    ZelmorKeyPair longKey = makeFakeKeyPair(0, keyKindRsa2048, "", {});
    longKey.publicValueLength = 5000;
    longKey.idLength = 1000;
    std::memset(longKey.label, 'L', sizeof longKey.label);  // no terminator, non-zero bytes after it
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
    addKeyPair(0x1000);
    addCertificate(0x8FFFE000, bytesOf("der"));

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

    for (auto expected : {std::make_pair(privateBase, 2048u), std::make_pair(publicBase + 1, 0u),
                          std::make_pair(certificateBase, 3072u)}) {
        CK_ULONG size = 99;
        EXPECT_EQ(CKR_OK, f()->C_GetObjectSize(session, expected.first, &size));
        EXPECT_EQ(expected.second, size) << expected.first;
    }

    std::string keyLabel(128, 'L'), certificateLabel(128, 'C');
    EXPECT_EQ(Handles{publicBase}, findByClass(session, CKO_PUBLIC_KEY, {attribute(CKA_LABEL, &keyLabel[0], 128)}));
    EXPECT_EQ(Handles{publicBase}, findByClass(session, CKO_PUBLIC_KEY,
                                               {attribute(CKA_VALUE, longKey.publicValue, sizeof longKey.publicValue)}));
    EXPECT_EQ(Handles{certificateBase},
              findByClass(session, CKO_CERTIFICATE, {attribute(CKA_LABEL, &certificateLabel[0], 128)}));
    EXPECT_EQ(Handles{certificateBase},
              findByClass(session, CKO_CERTIFICATE, {attribute(CKA_ID, longCertificate.id, sizeof longCertificate.id)}));
    EXPECT_EQ((Handles{publicBase, publicBase + 1, certificateBase, certificateBase + 1}), findAll(session, {}));
}

// Object and session handles with bits above the lowest 32 name nothing in
// any object entry point, and no device list is fetched for them.
TEST_F(AttributeReadTest, ValuesAbove32BitsNameNothing) {
    if (sizeof(CK_ULONG) == 4) GTEST_SKIP() << "CK_ULONG has 32 bits here";
    addKeyPair(0);
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    login(session);
    CK_ATTRIBUTE entry = attribute(CKA_CLASS, nullptr, 0);
    char label[] = "x";
    CK_ATTRIBUTE change = attribute(CKA_LABEL, label, 1);
    CK_ULONG size = 0;
    fakeLibrary().clearCalls();
    for (uint32_t low : {0x70000000u, 0x70001000u, 0x70002000u}) {
        SCOPED_TRACE(low);
        const CK_OBJECT_HANDLE high = above32Bits(low);
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetAttributeValue(session, high, &entry, 1));
        EXPECT_TRUE(logHas("ERROR", "Input hobject not valid in get attribute : " + std::to_string(high)));
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_GetObjectSize(session, high, &size));
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SetAttributeValue(session, high, &change, 1));
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_DestroyObject(session, high));
    }
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getKeyPairList"));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getCertificateList"));

    const CK_SESSION_HANDLE highSession = above32Bits(static_cast<uint32_t>(session));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetAttributeValue(highSession, privateBase, &entry, 1));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_DestroyObject(highSession, privateBase));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_FindObjectsInit(highSession, nullptr, 0));
}
