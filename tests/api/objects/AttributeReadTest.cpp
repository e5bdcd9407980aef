// C_GetAttributeValue and C_GetObjectSize through the module.
#include "ObjectsTest.h"

using namespace objects_test;

namespace {

// Rows of attributes x objects: attributes and their value in each object.
using Rows = std::vector<std::pair<std::vector<CK_ATTRIBUTE_TYPE>, std::vector<Bytes>>>;

using AttributeReadTest = ObjectsTest;

Bytes u(CK_ULONG value) { return ulongBytes(value); }

}  // namespace

// Every attribute of a certificate, a private and a public key; of public
// keys of each kind: the kind gives type, size, mechanism and curve (unknown
// kinds: RSA 2048), the usage flags verify and encrypt. The standards setting
// (any non-zero value) gives EC keys with a point CKA_EC_POINT, a DER OCTET
// STRING (long length form from 128 bytes on).
TEST_F(AttributeReadTest, AttributeTable) {
    ZelmorKeyPair keyPair = makeFakeKeyPair(7, keyKindRsa3072, "key label", {0x11, 0x22});
    keyPair.usageFlags = keyUsageSign;
    fakeLibrary().addKeyPair(defaultDevice, keyPair);
    const Bytes der = bytesOf("certificate-der");
    const Bytes value(keyPair.publicValue, keyPair.publicValue + 384);
    const Bytes label = bytesOf("key label");
    addCertificate(2, der, "cert label", {0x33});
    fakeLibrary().edit([&](FakeState& state) {
        state.certificateInfo[der] = {{}, bytesOf("subject-der"), bytesOf("issuer-der"), bytesOf("serial-der")};
    });
    const Bytes r = u(CKK_RSA), e = u(CKK_EC);
    const Bytes rg = u(CKM_RSA_PKCS_KEY_PAIR_GEN), eg = u(CKM_EC_KEY_PAIR_GEN);
    const Rows rows = {
        {{CKA_CLASS}, {u(CKO_CERTIFICATE), u(CKO_PRIVATE_KEY), u(CKO_PUBLIC_KEY)}},
        {{CKA_LABEL}, {bytesOf("cert label"), label, label}},
        {{CKA_VALUE, CKA_MODULUS}, {der, value, value}},
        {{CKA_ID}, {{0x33}, {0x11, 0x22}, {0x11, 0x22}}},
        {{CKA_OBJECT_ID}, {u(certificateBase + 2), u(privateBase + 7), u(publicBase + 7)}},
        {{CKA_CERTIFICATE_TYPE}, {u(CKC_X_509), u(0), u(0)}},
        {{CKA_ISSUER}, {bytesOf("issuer-der"), none, none}},
        {{CKA_SERIAL_NUMBER}, {bytesOf("serial-der"), none, none}},
        {{CKA_SUBJECT}, {bytesOf("subject-der"), none, none}},
        {{CKA_KEY_TYPE}, {r, r, r}},
        {{CKA_MODULUS_BITS}, {u(2048), u(3072), u(3072)}},
        {{CKA_KEY_GEN_MECHANISM}, {u(0), rg, rg}},
        {{CKA_PUBLIC_EXPONENT}, {{1, 0, 1}, {1, 0, 1}, {1, 0, 1}}},
        {{CKA_PRIVATE, CKA_SENSITIVE, CKA_SIGN}, {no, yes, no}},
        {{CKA_VERIFY}, {no, no, yes}},
        {{CKA_EXTRACTABLE}, {yes, no, yes}},
        {{CKA_MODIFIABLE}, {yes, no, no}},
        {{CKA_TOKEN, CKA_TRUSTED, CKA_LOCAL}, {yes, yes, yes}},
        {{CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP, CKA_VERIFY_RECOVER, CKA_DERIVE}, {no, no, no}},
        {{CKA_EC_PARAMS, CKA_EC_POINT, CKA_START_DATE, CKA_VENDOR_DEFINED}, {none, none, none}},
    };

    const auto expectAttributes = [this](CK_SESSION_HANDLE session, const Handles& objects, const Rows& rows) {
        for (const auto& [types, values] : rows)
            for (CK_ATTRIBUTE_TYPE type : types)
                for (std::size_t i = 0; i < objects.size(); ++i)
                    EXPECT_EQ(values.at(i), readAttribute(session, objects[i], type)) << type << " of " << objects[i];
    };
    const uint32_t kinds[] = {1, 2, 3, 4, 5, 6, 7, 0, 9, 5};
    std::vector<Bytes> points(10);
    Handles publicKeys;
    for (uint32_t n = 0; n < 10; ++n) {
        ZelmorKeyPair key = makeFakeKeyPair(10 + n, kinds[n], "", {});
        key.usageFlags = n % 4;
        if (n == 9) key.publicValueLength = 0;  // an EC key without a point
        fakeLibrary().addKeyPair(defaultDevice, key);
        if (n >= 4 && n <= 6) {
            points[n] = {0x04, uint8_t(key.publicValueLength)};
            points[n].insert(points[n].end(), key.publicValue, key.publicValue + key.publicValueLength);
        }
        publicKeys.push_back(publicBase + 10 + n);
    }
    points[6].insert(points[6].begin() + 1, 0x81);  // 133 bytes: the long length form
    for (int setting : {noStandardsMode, 1}) {
        reinitialiseWithStandardsMode(setting);
        CK_SESSION_HANDLE session = openSession();
        expectAttributes(session, {certificateBase + 2, privateBase + 7, publicBase + 7}, rows);
        expectAttributes(session, publicKeys,
                         {
                             {{CKA_KEY_TYPE}, {r, r, r, r, e, e, e, r, r, e}},
                             {{CKA_MODULUS_BITS},
                              {u(1024), u(2048), u(3072), u(4096), u(256), u(384), u(521), u(2048), u(2048), u(256)}},
                             {{CKA_KEY_GEN_MECHANISM}, {rg, rg, rg, rg, eg, eg, eg, rg, rg, eg}},
                             {{CKA_EC_PARAMS}, {none, none, none, none, p256, p384, p521, none, none, p256}},
                             {{CKA_EC_POINT}, setting == 1 ? points : std::vector<Bytes>(10)},
                             {{CKA_VERIFY}, {no, yes, no, yes, no, yes, no, yes, no, yes}},
                             {{CKA_ENCRYPT}, {no, no, yes, yes, no, no, yes, yes, no, no}},
                         });
    }
}

// A null value asks for the length; the first short entry ends the call:
// entries before it are filled (an exact buffer and nothing beyond), it keeps
// its length, later ones are untouched; a CK_ULONG needs all its bytes. A
// private key's size is twice its public value's; below the key range,
// certificate numbers wrap round 2^32; bits above the lowest 32 name nothing.
TEST_F(AttributeReadTest, LengthsSizesAndArguments) {
    addKeyPair(0, keyKindRsa2048, "abc", {0x01, 0x02, 0x03, 0x04});
    addCertificate(0x8FFFE005, Bytes(3, 0x30));
    addCertificate(0x8FFFDFFF, Bytes(4, 0x30));
    CK_SESSION_HANDLE session = openSession();
    CK_ULONG objectClass = 0;
    CK_BYTE buffer[9] = {'x', 'x', 'x', 'x', 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    CK_ATTRIBUTE entries[] = {
        {CKA_ID, nullptr, 77},   {CKA_START_DATE, nullptr, 5}, {CKA_CLASS, &objectClass, sizeof objectClass},
        {CKA_LABEL, buffer, 3},  {CKA_VALUE, buffer + 4, 1},   {CKA_ID, buffer + 5, 4},
        {CKA_LABEL, nullptr, 9},
    };
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetAttributeValue(session, privateBase, entries, 7));
    Handles lengths;
    for (const CK_ATTRIBUTE& entry : entries) lengths.push_back(entry.ulValueLen);
    EXPECT_EQ((Handles{4, 0, sizeof(CK_ULONG), 3, 1, 4, 9}), lengths);
    EXPECT_EQ(bytesOf("abcx\xEE\xEE"), Bytes(buffer, buffer + 6));
    CK_ATTRIBUTE entry{CKA_CLASS, &objectClass, sizeof(CK_ULONG) - 1};
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetAttributeValue(session, privateBase, &entry, 1));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetAttributeValue(session, privateBase, nullptr, 1));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetAttributeValue(session, privateBase, &entry, 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetObjectSize(session, certificateBase, nullptr));
    const CK_ULONG wide = sizeof(CK_ULONG) > 4 ? CK_ULONG(1) << 31 << 1 : 0;  // 2^32 or 0
    const std::pair<CK_OBJECT_HANDLE, CK_ULONG> sizes[] = {
        {privateBase, 512},        // twice the public value
        {publicBase, 256},         // the public value
        {5, 3},                    // certificate 0x8FFFE005: the DER
        {0xFFFFFFFF, 4},           // the largest handle: certificate 0x8FFFDFFF
        {privateBase + 1, 0},      // no such key pair
        {0x6FFFFFFF, 0},           // below the key range
        {wide | 5, wide ? 0 : 3},  // bits above 32
    };
    for (const auto& [handle, expected] : sizes) {
        CK_ULONG size = 0;
        EXPECT_EQ(expected ? CKR_OK : CKR_OBJECT_HANDLE_INVALID, f()->C_GetObjectSize(session, handle, &size))
            << handle;
        EXPECT_EQ(expected, size) << handle;
    }
}
