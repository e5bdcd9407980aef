// Key-pair generation, records, numbering, capacity, signing and verification.
#include "SimTestSupport.h"

#include "device/ResultCodes.h"

#include <cstring>
#include <openssl/rsa.h>

using namespace simtest;
namespace result = zelmor::sim::result;

namespace {

struct KindCase {
    uint32_t kind;
    bool isRsa;
    std::size_t publicValueLength;  // modulus bytes, or 1 + 2 coordinates
    std::size_t signatureLength;
};

const KindCase kindCases[] = {
    {keyKindRsa1024, true, 128, 128}, {keyKindRsa2048, true, 256, 256}, {keyKindRsa3072, true, 384, 384},
    {keyKindRsa4096, true, 512, 512}, {keyKindEcP256, false, 65, 64},   {keyKindEcP384, false, 97, 96},
    {keyKindEcP521, false, 133, 132},
};

class KeyPairTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        createDevice("K1", 4);
        instance = openInstance();
    }
    int32_t sign(const ZelmorKeyPair& key, const Bytes& input, Bytes& signature) {
        return signWith(instance, "K1", key.identifier, input, &signature);
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
        SCOPED_TRACE(hashBits);
        const Bytes hash = sha(hashBits, message);
        Bytes signature;
        ASSERT_EQ(sign(key, hash, signature), result::ok);
        EXPECT_EQ(signature.size(), c.signatureLength);
        EXPECT_TRUE(libcryptoVerifies(publicKey.get(), hashBits, message, signature));
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

TEST_F(KeyPairTest, NumbersStartAtZeroTheLowestFreeIsReusedAndAFullDeviceAnswers40) {
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

    generate(instance, "K1", keyKindEcP256);  // the fourth of four
    EXPECT_EQ(generateResult(instance, "K1"), ZelmorResult::deviceMemoryFull);
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
    EXPECT_EQ(signWith(instance, "K1", unknown, hash), result::objectNotFound);
    const Bytes signature(64, 1);
    EXPECT_EQ(zelmor_verifySignatureHash(keyKindEcP256, "K1", hash.data(), 32, key.publicValue, 128,
                                         signature.data(), 64, instance),
              result::invalidArgument)
        << "an RSA modulus is no P-256 point";
}
