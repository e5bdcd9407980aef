// RSA encryption and decryption, and RSA key import from three components.
#include "SimTestSupport.h"

#include "device/ResultCodes.h"

#include <cstdlib>
#include <cstring>
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

    ZelmorInstance instance = nullptr;
};

}  // namespace

TEST_F(CipherTest, EncryptUnderSpkiAndDecryptOnTheDevice) {
    const ZelmorKeyPair key = generate(instance, "E1", keyKindRsa2048);
    const Bytes spki = spkiOf(publicKeyOf(key).get());
    const Bytes message = randomData(100);
    uint8_t ciphertext[1024];
    uint32_t length = 0;  // output only, as the module passes it
    ASSERT_EQ(zelmor_encrypt(encryptionTypeRsa2048, 1, message.data(), 100, ciphertext, &length, spki.data(),
                             static_cast<uint32_t>(spki.size()), instance),
              result::ok);
    ASSERT_EQ(length, 256u);
    Bytes plaintext;
    ASSERT_EQ(decrypt(key, Bytes(ciphertext, ciphertext + length), plaintext), result::ok);
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
    const ZelmorKeyPair key = generate(instance, "E1", keyKindRsa1024);
    const Bytes spki = spkiOf(publicKeyOf(key).get());
    uint8_t out[1024];
    uint32_t length = 0;
    const Bytes tooLong = randomData(128 - 10);
    EXPECT_NE(zelmor_encrypt(7, 1, tooLong.data(), static_cast<uint32_t>(tooLong.size()), out, &length, spki.data(),
                             static_cast<uint32_t>(spki.size()), nullptr),
              result::ok);
    const Bytes data(16, 1);
    EXPECT_NE(zelmor_encrypt(7, 2, data.data(), 16, out, &length, spki.data(), static_cast<uint32_t>(spki.size()),
                             nullptr),
              result::ok)
        << "only PKCS#1 v1.5 padding";
    EXPECT_NE(zelmor_encrypt(7, 1, data.data(), 16, out, &length, spki.data(), static_cast<uint32_t>(spki.size() - 1),
                             nullptr),
              result::ok)
        << "truncated key";
    const Pkey ec = makeEcKey();
    const Bytes ecSpki = spkiOf(ec.get());
    EXPECT_NE(zelmor_encrypt(8, 1, data.data(), 16, out, &length, ecSpki.data(), static_cast<uint32_t>(ecSpki.size()),
                             nullptr),
              result::ok);
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
    const Bytes hash = sha(256, message);
    uint8_t signature[1024];
    uint32_t length = sizeof signature;
    ASSERT_EQ(zelmor_signHash("E1", stored.identifier, defaultPin, hash.data(), 32, signature, &length, false,
                              instance),
              result::ok);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, original.get());
    EXPECT_EQ(EVP_DigestVerify(ctx, signature, length, message.data(), message.size()), 1);
    EVP_MD_CTX_free(ctx);
}

TEST_F(CipherTest, ImportRefusesInconsistentComponentsWithoutUsingATry) {
    const Pkey a(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)));
    const Pkey b(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)));

    ImportPFXDetails foreignPrime = importRecord(a.get());
    foreignPrime.prime1 = importRecord(b.get()).prime1;
    EXPECT_EQ(zelmor_importPfx("E1", defaultPin, &foreignPrime, instance), result::dataInvalid);

    ImportPFXDetails foreignExponent = importRecord(a.get());
    foreignExponent.privateExponent = importRecord(b.get()).privateExponent;
    EXPECT_EQ(zelmor_importPfx("E1", defaultPin, &foreignExponent, instance), result::dataInvalid);

    ImportPFXDetails wrongPublicExponent = importRecord(a.get());
    wrongPublicExponent.publicExponent = {0x03};
    EXPECT_EQ(zelmor_importPfx("E1", defaultPin, &wrongPublicExponent, instance), result::dataInvalid);

    ImportPFXDetails missing = importRecord(a.get());
    missing.prime1.clear();
    EXPECT_EQ(zelmor_importPfx("E1", defaultPin, &missing, instance), result::dataInvalid);

    EXPECT_TRUE(zelmor_getKeyPairList("E1", instance).empty());
    EXPECT_TRUE(foreignPrime.keyPairIdentifier.empty());
    EXPECT_EQ(zelmor_getTokenInfo("E1", instance).remainingPinAttempts, 10);
}
