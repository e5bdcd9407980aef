// Key-pair generation, records, numbering, capacity, signing and verification.
#include "SimTestSupport.h"

#include "device/ResultCodes.h"

#include <cstring>
#include <openssl/ec.h>
#include <openssl/rsa.h>

using namespace simtest;
namespace result = zelmor::sim::result;

namespace {

struct KindCase {
    uint32_t kind;
    bool isRsa;
    std::size_t publicValueLength;  // modulus bytes, or 1 + 2 coordinates
    std::size_t fieldBytes;
};

const KindCase kindCases[] = {
    {keyKindRsa1024, true, 128, 0},  {keyKindRsa2048, true, 256, 0}, {keyKindRsa3072, true, 384, 0},
    {keyKindRsa4096, true, 512, 0},  {keyKindEcP256, false, 65, 32}, {keyKindEcP384, false, 97, 48},
    {keyKindEcP521, false, 133, 66},
};

const EVP_MD* hashOfBits(int bits) {
    return bits == 1 ? EVP_sha1() : bits == 256 ? EVP_sha256() : bits == 384 ? EVP_sha384() : EVP_sha512();
}

// Checks a signature over `message` made from its bare hash, the way a verifier
// of the whole message would: libcrypto hashes, wraps and pads on its own.
bool verifiesMessage(EVP_PKEY* key, bool isRsa, std::size_t fieldBytes, int hashBits, const Bytes& message,
                     const Bytes& signature) {
    Bytes der = signature;
    if (!isRsa) {
        if (signature.size() != 2 * fieldBytes) return false;
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), static_cast<int>(fieldBytes), nullptr),
                       BN_bin2bn(signature.data() + fieldBytes, static_cast<int>(fieldBytes), nullptr));
        unsigned char* out = nullptr;
        const int length = i2d_ECDSA_SIG(sig, &out);
        der.assign(out, out + length);
        OPENSSL_free(out);
        ECDSA_SIG_free(sig);
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = EVP_DigestVerifyInit(ctx, nullptr, hashOfBits(hashBits), nullptr, key) == 1 &&
                    EVP_DigestVerify(ctx, der.data(), der.size(), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

class KeyPairTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        createDevice("K1", 4);
        instance = openInstance();
    }
    int32_t sign(const ZelmorKeyPair& key, const Bytes& input, Bytes& signature) {
        signature.assign(1024, 0);
        uint32_t length = 1024;
        const int32_t rc = zelmor_signHash("K1", key.identifier, defaultPin, input.data(),
                                           static_cast<uint32_t>(input.size()), signature.data(), &length, false,
                                           instance);
        signature.resize(rc == 0 ? length : 0);
        return rc;
    }
    int32_t verify(const ZelmorKeyPair& key, const Bytes& input, const Bytes& signature) {
        return zelmor_verifySignatureHash(key.keyKind, "K1", input.data(), static_cast<uint32_t>(input.size()),
                                          key.publicValue, static_cast<uint32_t>(key.publicValueLength),
                                          signature.data(), static_cast<uint32_t>(signature.size()), instance);
    }

    ZelmorInstance instance = nullptr;
};

class EveryKeyKind : public KeyPairTest, public ::testing::WithParamInterface<KindCase> {};

}  // namespace

TEST_P(EveryKeyKind, GeneratesSignsAndVerifiesInTheDeviceFormats) {
    const KindCase c = GetParam();
    const ZelmorKeyPair key = generate(instance, "K1", c.kind, "signing key");
    ASSERT_EQ(static_cast<std::size_t>(key.publicValueLength), c.publicValueLength);
    EXPECT_EQ(key.keyKind, c.kind);
    EXPECT_STREQ(key.label, "signing key");
    EXPECT_NE(key.publicValue[0], 0) << "no leading zero byte";
    if (!c.isRsa) {
        EXPECT_EQ(key.publicValue[0], 0x04) << "uncompressed point";
    }
    const Pkey publicKey = publicKeyOf(key);
    ASSERT_TRUE(publicKey);

    const Bytes message = randomData(100);
    for (int hashBits : {1, 256, 384, 512}) {
        const Bytes hash = sha(hashBits, message);
        Bytes signature;
        ASSERT_EQ(sign(key, hash, signature), result::ok) << hashBits;
        EXPECT_EQ(signature.size(), c.isRsa ? c.publicValueLength : 2 * c.fieldBytes);
        EXPECT_TRUE(verifiesMessage(publicKey.get(), c.isRsa, c.fieldBytes, hashBits, message, signature)) << hashBits;
        EXPECT_EQ(verify(key, hash, signature), result::ok);

        Bytes tampered = signature;
        tampered[tampered.size() / 2] ^= 0x01;
        EXPECT_NE(verify(key, hash, tampered), result::ok);
        Bytes otherHash = hash;
        otherHash[0] ^= 0x80;
        EXPECT_NE(verify(key, otherHash, signature), result::ok);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKeyKind, ::testing::ValuesIn(kindCases),
                         [](const auto& info) { return "kind" + std::to_string(info.param.kind); });

TEST_F(KeyPairTest, RsaInputOfOtherLengthIsPaddedAsItIs) {
    const ZelmorKeyPair key = generate(instance, "K1", keyKindRsa2048);
    const Bytes input = randomData(35);  // e.g. a DigestInfo built by the caller
    Bytes signature;
    ASSERT_EQ(sign(key, input, signature), result::ok);

    const Pkey publicKey = publicKeyOf(key);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(publicKey.get(), nullptr);
    ASSERT_EQ(EVP_PKEY_verify_recover_init(ctx), 1);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    Bytes recovered(256);
    size_t length = recovered.size();
    ASSERT_EQ(EVP_PKEY_verify_recover(ctx, recovered.data(), &length, signature.data(), signature.size()), 1);
    EVP_PKEY_CTX_free(ctx);
    recovered.resize(length);
    EXPECT_EQ(recovered, input);
    EXPECT_EQ(verify(key, input, signature), result::ok);

    const Bytes tooLong = randomData(256 - 10);
    EXPECT_NE(sign(key, tooLong, signature), result::ok);
}

TEST_F(KeyPairTest, NumbersStartAtZeroAndTheLowestFreeIsReused) {
    const ZelmorKeyPair a = generate(instance, "K1", keyKindEcP256, "a");
    const ZelmorKeyPair b = generate(instance, "K1", keyKindEcP256, "b");
    const ZelmorKeyPair c = generate(instance, "K1", keyKindEcP256, "c");
    EXPECT_EQ(a.number, 0u);
    EXPECT_EQ(b.number, 1u);
    EXPECT_EQ(c.number, 2u);
    EXPECT_NE(std::memcmp(a.identifier, b.identifier, 16), 0);
    EXPECT_EQ(zelmor_deleteKeyPair("K1", b.identifier, defaultPin, false, instance), result::ok);
    const ZelmorKeyPair d = generate(instance, "K1", keyKindEcP256, "d");
    EXPECT_EQ(d.number, 1u);
    EXPECT_NE(std::memcmp(d.identifier, b.identifier, 16), 0);

    const auto& list = zelmor_getKeyPairList("K1", instance);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list[2].label, "d");
    EXPECT_EQ(std::memcmp(list[2].publicValue, d.publicValue, 65), 0);
}

TEST_F(KeyPairTest, FullDeviceAnswers40) {
    for (int i = 0; i < 4; ++i) generate(instance, "K1", keyKindEcP256);
    ZelmorKeyPair request{};
    request.keyKind = keyKindEcP256;
    EXPECT_EQ(zelmor_generateKeyPair("K1", defaultPin, &request, instance), ZelmorResult::deviceMemoryFull);
    EXPECT_EQ(zelmor_getKeyPairList("K1", instance).size(), 4u);
}

TEST_F(KeyPairTest, RecordCarriesRequestedIdUsageAndFlag) {
    ZelmorKeyPair request{};
    request.keyKind = keyKindEcP384;
    request.usageFlags = keyUsageDecrypt;
    request.keyFlag = 1;
    request.idLength = 3;
    std::memcpy(request.id, "\x01\x02\x03", 3);
    std::memset(request.label, 'L', zelmorLabelSize);  // 128 bytes, terminator in the byte after
    ASSERT_EQ(zelmor_generateKeyPair("K1", defaultPin, &request, instance), result::ok);
    const ZelmorKeyPair stored = zelmor_getKeyPairList("K1", instance).at(0);
    EXPECT_EQ(stored.usageFlags, keyUsageDecrypt);
    EXPECT_EQ(stored.keyFlag, 1);
    EXPECT_EQ(stored.idLength, 3);
    EXPECT_EQ(std::string(stored.label), std::string(128, 'L'));

    ZelmorKeyPair bad{};
    bad.keyKind = 8;
    EXPECT_EQ(zelmor_generateKeyPair("K1", defaultPin, &bad, instance), result::invalidArgument);
    bad.keyKind = keyKindEcP256;
    bad.idLength = 129;
    EXPECT_EQ(zelmor_generateKeyPair("K1", defaultPin, &bad, instance), result::invalidArgument);
}

TEST_F(KeyPairTest, RelabelAndNewIdKeepWhatIsNotGiven) {
    const ZelmorKeyPair key = generate(instance, "K1", keyKindEcP256, "old label");
    const uint8_t id[] = {0xAA, 0xBB};
    EXPECT_EQ(zelmor_updateKeyPairDetails("K1", key.identifier, defaultPin, "", id, 2, instance), result::ok);
    ZelmorKeyPair stored = zelmor_getKeyPairList("K1", instance).at(0);
    EXPECT_STREQ(stored.label, "old label");
    EXPECT_EQ(stored.idLength, 2);
    EXPECT_EQ(zelmor_updateKeyPairDetails("K1", key.identifier, defaultPin, "new label", nullptr, 0, instance),
              result::ok);
    stored = zelmor_getKeyPairList("K1", instance).at(0);
    EXPECT_STREQ(stored.label, "new label");
    EXPECT_EQ(stored.idLength, 2);
    EXPECT_EQ(stored.id[1], 0xBB);

    const std::string tooLong(129, 'x');
    EXPECT_EQ(zelmor_updateKeyPairDetails("K1", key.identifier, defaultPin, tooLong.c_str(), nullptr, 0, instance),
              result::invalidArgument);
    const uint8_t unknown[16] = {};
    EXPECT_EQ(zelmor_updateKeyPairDetails("K1", unknown, defaultPin, "x", nullptr, 0, instance),
              result::objectNotFound);
}

TEST_F(KeyPairTest, SignatureRequestsThatCannotBeServed) {
    const ZelmorKeyPair key = generate(instance, "K1", keyKindRsa1024);
    const Bytes hash(32, 5);
    uint8_t small[64];
    uint32_t length = sizeof small;
    EXPECT_EQ(zelmor_signHash("K1", key.identifier, defaultPin, hash.data(), 32, small, &length, false, instance),
              result::bufferTooSmall);
    EXPECT_EQ(length, 128u);
    const uint8_t unknown[16] = {1};
    uint8_t signature[1024];
    length = sizeof signature;
    EXPECT_EQ(zelmor_signHash("K1", unknown, defaultPin, hash.data(), 32, signature, &length, false, instance),
              result::objectNotFound);
    EXPECT_EQ(zelmor_verifySignatureHash(keyKindEcP256, "K1", hash.data(), 32, key.publicValue, 128, signature, 64,
                                         instance),
              result::invalidArgument)
        << "an RSA modulus is no P-256 point";
}
