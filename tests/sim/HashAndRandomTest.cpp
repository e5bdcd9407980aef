// Hash contexts and random bytes.
#include "SimTestSupport.h"

#include "device/ResultCodes.h"

using namespace simtest;
namespace result = zelmor::sim::result;

namespace {
Bytes hashInParts(int32_t algorithm, const Bytes& data, std::size_t partSize) {
    ZelmorHashContext context = nullptr;
    EXPECT_EQ(zelmor_initHash("any", algorithm, &context, nullptr), result::ok);
    for (std::size_t offset = 0; offset < data.size(); offset += partSize) {
        const auto size = static_cast<uint32_t>(std::min(partSize, data.size() - offset));
        EXPECT_EQ(zelmor_updateHash(context, data.data() + offset, size, nullptr), result::ok);
    }
    Bytes digest(64);
    uint32_t length = 64;
    EXPECT_EQ(zelmor_finalHash(context, digest.data(), &length, nullptr), result::ok);
    digest.resize(length);
    return digest;
}
}  // namespace

TEST(HashAndRandom, DigestsEqualLibcryptosInOneOrManyParts) {
    const Bytes data = randomData(1000);
    const std::pair<int32_t, int> algorithms[] = {{hashSha1, 1}, {hashSha256, 256}, {hashSha384, 384}, {hashSha512, 512}};
    for (const auto& [algorithm, bits] : algorithms) {
        EXPECT_EQ(hashInParts(algorithm, data, data.size()), sha(bits, data)) << algorithm;
        EXPECT_EQ(hashInParts(algorithm, data, 7), sha(bits, data)) << algorithm;
    }
    EXPECT_EQ(hashInParts(hashSha256, {}, 1), sha(256, {}));
}

TEST(HashAndRandom, HashMisuseFailsCleanly) {
    ZelmorHashContext context = nullptr;
    EXPECT_NE(zelmor_initHash("any", 1, &context, nullptr), result::ok) << "MD5's slot is no algorithm here";
    EXPECT_NE(zelmor_initHash("any", 6, &context, nullptr), result::ok);
    EXPECT_EQ(context, nullptr);
    EXPECT_NE(zelmor_updateHash(nullptr, nullptr, 0, nullptr), result::ok);
    uint8_t digest[64];
    uint32_t length = 0;
    EXPECT_NE(zelmor_finalHash(nullptr, digest, &length, nullptr), result::ok);

    ASSERT_EQ(zelmor_initHash("any", hashSha512, &context, nullptr), result::ok);
    length = 32;  // too small for SHA-512: fails, and the context is gone either way
    EXPECT_EQ(zelmor_finalHash(context, digest, &length, nullptr), result::bufferTooSmall);

    ASSERT_EQ(zelmor_initHash("any", hashSha1, &context, nullptr), result::ok);
    length = 0;  // output only
    EXPECT_EQ(zelmor_finalHash(context, digest, &length, nullptr), result::ok);
    EXPECT_EQ(length, 20u);
}

TEST(HashAndRandom, RandomBytesFillTheBuffer) {
    Bytes first(64, 0), second(64, 0);
    EXPECT_EQ(zelmor_generateRamdomNumber("any", 64, first.data(), true, nullptr), result::ok);
    EXPECT_EQ(zelmor_generateRamdomNumber("any", 64, second.data(), true, nullptr), result::ok);
    EXPECT_NE(first, Bytes(64, 0));
    EXPECT_NE(first, second);
    EXPECT_NE(zelmor_generateRamdomNumber("any", 8, nullptr, true, nullptr), result::ok);
}
