// RSA encryption and decryption, and RSA key import from three components.
#include "SimTestSupport.h"

#include "device/ResultCodes.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <openssl/core_names.h>
#include <openssl/rsa.h>

using namespace simtest;
namespace result = zelmor::sim::result;

namespace {

constexpr int32_t encryptionTypeRsa2048 = 8;

Bytes bnParam(EVP_PKEY* key, const char* name) {
    BIGNUM* value = nullptr;
    EVP_PKEY_get_bn_param(key, name, &value);
    Bytes bytes(static_cast<std::size_t>(BN_num_bytes(value)));
    BN_bn2bin(value, bytes.data());
    BN_free(value);
    return bytes;
}

ImportPFXDetails importRecord(EVP_PKEY* key) {
    ImportPFXDetails details;
    details.modulus = bnParam(key, OSSL_PKEY_PARAM_RSA_N);
    details.privateExponent = bnParam(key, OSSL_PKEY_PARAM_RSA_D);
    details.prime1 = bnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
    details.kind = 2;
    details.label = "imported";
    details.id = {0x42};
    return details;
}

class CipherTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        createDevice("E1");
        instance = openInstance();
    }
    int32_t decrypt(const ZelmorKeyPair& key, const Bytes& ciphertext, Bytes& plaintext) {
        uint8_t* output = nullptr;
        uint32_t length = 0;
        const int32_t rc = zelmor_decrypt("E1", key.identifier, defaultPin, ciphertext.data(),
                                          static_cast<uint32_t>(ciphertext.size()), &output, &length, false, instance);
        if (rc == result::ok) {
            plaintext.assign(output, output + length);
            std::free(output);  // the library allocates with malloc
        }
        return rc;
    }

    int32_t encrypt(int32_t type, int32_t padding, const Bytes& data, const Bytes& spki, Bytes& ciphertext) {
        ciphertext.assign(1024, 0);
        uint32_t length = 0;  // output only, as the module passes it
        const int32_t rc = zelmor_encrypt(type, padding, data.data(), static_cast<uint32_t>(data.size()),
                                          ciphertext.data(), &length, spki.data(), static_cast<uint32_t>(spki.size()),
                                          instance);
        ciphertext.resize(rc == result::ok ? length : 0);
        return rc;
    }

    ZelmorInstance instance = nullptr;
};

}  // namespace

TEST_F(CipherTest, EncryptUnderSpkiAndDecryptOnTheDevice) {
    const ZelmorKeyPair key = generate(instance, "E1", keyKindRsa2048);
    const Bytes message = randomData(100);
    Bytes ciphertext, plaintext;
    ASSERT_EQ(encrypt(encryptionTypeRsa2048, 1, message, derOf(publicKeyOf(key).get(), i2d_PUBKEY), ciphertext),
              result::ok);
    ASSERT_EQ(ciphertext.size(), 256u);
    ASSERT_EQ(decrypt(key, ciphertext, plaintext), result::ok);
    EXPECT_EQ(plaintext, message);
}

TEST_F(CipherTest, DecryptsWhatLibcryptoEncrypted) {
    const ZelmorKeyPair key = generate(instance, "E1", keyKindRsa3072);
    const Pkey publicKey = publicKeyOf(key);
    const Bytes message = randomData(32);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(publicKey.get(), nullptr);
    EVP_PKEY_encrypt_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    Bytes ciphertext(384);
    size_t length = ciphertext.size();
    ASSERT_EQ(EVP_PKEY_encrypt(ctx, ciphertext.data(), &length, message.data(), message.size()), 1);
    EVP_PKEY_CTX_free(ctx);
    Bytes plaintext;
    ASSERT_EQ(decrypt(key, ciphertext, plaintext), result::ok);
    EXPECT_EQ(plaintext, message);

    ciphertext[10] ^= 0xff;
    EXPECT_NE(decrypt(key, ciphertext, plaintext), result::ok);
}

TEST_F(CipherTest, RefusesWhatRsaCannotEncrypt) {
    const Bytes spki = derOf(publicKeyOf(generate(instance, "E1", keyKindRsa1024)).get(), i2d_PUBKEY);
    const Bytes data(16, 1);
    Bytes out;
    EXPECT_NE(encrypt(7, 1, randomData(128 - 10), spki, out), result::ok) << "longer than 1024-bit PKCS#1 v1.5 holds";
    EXPECT_NE(encrypt(7, 2, data, spki, out), result::ok) << "only PKCS#1 v1.5 padding";
    EXPECT_NE(encrypt(7, 1, data, Bytes(spki.begin(), spki.end() - 1), out), result::ok) << "truncated key";
    EXPECT_NE(encrypt(8, 1, data, derOf(makeEcKey().get(), i2d_PUBKEY), out), result::ok) << "EC key";
    const ZelmorKeyPair ecKey = generate(instance, "E1", keyKindEcP256);
    Bytes plaintext;
    EXPECT_NE(decrypt(ecKey, Bytes(64, 1), plaintext), result::ok);
}

TEST_F(CipherTest, ImportRebuildsTheKeyFromModulusExponentAndPrime) {
    const Pkey original(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048)));
    ImportPFXDetails details = importRecord(original.get());
    ASSERT_EQ(zelmor_importPfx("E1", defaultPin, &details, instance), result::ok);
    ASSERT_EQ(details.keyPairIdentifier.size(), 16u);

    const auto& list = zelmor_getKeyPairList("E1", instance);
    ASSERT_EQ(list.size(), 1u);
    const ZelmorKeyPair stored = list[0];
    EXPECT_EQ(std::memcmp(stored.identifier, details.keyPairIdentifier.data(), 16), 0);
    EXPECT_EQ(stored.keyKind, keyKindRsa2048);
    EXPECT_STREQ(stored.label, "imported");
    EXPECT_EQ(Bytes(stored.publicValue, stored.publicValue + stored.publicValueLength), details.modulus);

    // A signature made on the device verifies under the original public key.
    const Bytes message = randomData(50);
    Bytes signature;
    ASSERT_EQ(signWith(instance, "E1", stored.identifier, sha(256, message), &signature), result::ok);
    EXPECT_TRUE(libcryptoVerifies(original.get(), 256, message, signature));
}

TEST_F(CipherTest, ImportRefusesInconsistentComponentsWithoutUsingATry) {
    const Pkey a(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)));
    const Pkey b(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)));
    const ImportPFXDetails other = importRecord(b.get());
    const std::pair<const char*, std::function<void(ImportPFXDetails&)>> damages[] = {
        {"foreign prime", [&](ImportPFXDetails& d) { d.prime1 = other.prime1; }},
        {"foreign private exponent", [&](ImportPFXDetails& d) { d.privateExponent = other.privateExponent; }},
        {"wrong public exponent", [](ImportPFXDetails& d) { d.publicExponent = {0x03}; }},
        {"missing prime", [](ImportPFXDetails& d) { d.prime1.clear(); }},
    };
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        ImportPFXDetails details = importRecord(a.get());
        damage(details);
        EXPECT_EQ(zelmor_importPfx("E1", defaultPin, &details, instance), result::dataInvalid);
        EXPECT_TRUE(details.keyPairIdentifier.empty());
    }
    EXPECT_TRUE(zelmor_getKeyPairList("E1", instance).empty());
    EXPECT_EQ(zelmor_getTokenInfo("E1", instance).remainingPinAttempts, 10);
}
