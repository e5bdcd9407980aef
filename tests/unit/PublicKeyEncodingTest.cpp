#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crypto/PublicKeyEncoding.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes modulusOf(std::size_t length, uint8_t first) {
    Bytes modulus(length);
    for (std::size_t i = 0; i < length; ++i) modulus[i] = static_cast<uint8_t>(i * 13 + 5);
    if (length > 0) modulus[0] = first;
    return modulus;
}

Bytes head(const Bytes& bytes, std::size_t count) { return Bytes(bytes.begin(), bytes.begin() + count); }
Bytes tail(const Bytes& bytes, std::size_t count) { return Bytes(bytes.end() - count, bytes.end()); }

Bytes encode(const Bytes& modulus) { return zelmor::encodeRsaSubjectPublicKeyInfo(modulus.data(), modulus.size()); }

const Bytes exponentInteger{0x02, 0x03, 0x01, 0x00, 0x01};

}  // namespace

TEST(DerLength, MinimalDefiniteForm) {
    struct Case {
        std::size_t length;
        Bytes expected;
    };
    const Case cases[] = {
        {0, {0x00}},          {127, {0x7F}},         {128, {0x81, 0x80}},       {255, {0x81, 0xFF}},
        {256, {0x82, 0x01, 0x00}}, {290, {0x82, 0x01, 0x22}}, {65535, {0x82, 0xFF, 0xFF}},
        {65536, {0x83, 0x01, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        Bytes out;
        zelmor::appendDerLength(out, c.length);
        EXPECT_EQ(c.expected, out) << c.length;
    }
}

TEST(RsaPublicKeyEncoding, Rsa2048WithHighFirstByte) {
    Bytes modulus = modulusOf(256, 0xC1);
    Bytes encoded = encode(modulus);
    const Bytes expectedHead{0x30, 0x82, 0x01, 0x22, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                             0x0D, 0x01, 0x01, 0x01, 0x05, 0x00, 0x03, 0x82, 0x01, 0x0F, 0x00, 0x30, 0x82,
                             0x01, 0x0A, 0x02, 0x82, 0x01, 0x01, 0x00};
    ASSERT_EQ(294u, encoded.size());
    EXPECT_EQ(expectedHead, head(encoded, expectedHead.size()));
    EXPECT_EQ(modulus, Bytes(encoded.begin() + 33, encoded.begin() + 33 + 256));
    EXPECT_EQ(exponentInteger, tail(encoded, 5));
}

TEST(RsaPublicKeyEncoding, Rsa1024WithHighFirstByte) {
    Bytes encoded = encode(modulusOf(128, 0x80));
    ASSERT_EQ(162u, encoded.size());
    EXPECT_EQ(Bytes({0x30, 0x81, 0x9F}), head(encoded, 3));
    EXPECT_EQ(Bytes({0x03, 0x81, 0x8D, 0x00}), Bytes(encoded.begin() + 18, encoded.begin() + 22));
    EXPECT_EQ(Bytes({0x30, 0x81, 0x89}), Bytes(encoded.begin() + 22, encoded.begin() + 25));
    EXPECT_EQ(Bytes({0x02, 0x81, 0x81, 0x00, 0x80}), Bytes(encoded.begin() + 25, encoded.begin() + 30));
    EXPECT_EQ(exponentInteger, tail(encoded, 5));
}

TEST(RsaPublicKeyEncoding, LowFirstByteAndLeadingZerosAreKeptAsStored) {
    // No sign byte below 0x80; a leading zero byte is not removed.
    Bytes modulus = modulusOf(128, 0x00);
    Bytes encoded = encode(modulus);
    ASSERT_EQ(161u, encoded.size());
    EXPECT_EQ(Bytes({0x30, 0x81, 0x9E}), head(encoded, 3));
    EXPECT_EQ(Bytes({0x02, 0x81, 0x80, 0x00}), Bytes(encoded.begin() + 25, encoded.begin() + 29));
    EXPECT_EQ(modulus, Bytes(encoded.begin() + 28, encoded.begin() + 28 + 128));
}

TEST(RsaPublicKeyEncoding, EmptyAndShortModuli) {
    // An empty modulus still gives a well-formed structure with a zero-length INTEGER.
    const Bytes algorithm{0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
    Bytes expected{0x30, 0x1B};
    expected.insert(expected.end(), algorithm.begin(), algorithm.end());
    const Bytes rest{0x03, 0x0A, 0x00, 0x30, 0x07, 0x02, 0x00, 0x02, 0x03, 0x01, 0x00, 0x01};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(expected, encode(Bytes()));

    Bytes oneByte = encode(Bytes{0xFF});
    EXPECT_EQ(Bytes({0x30, 0x09, 0x02, 0x02, 0x00, 0xFF}), Bytes(oneByte.begin() + 20, oneByte.begin() + 26));
}

TEST(RsaPublicKeyEncoding, LargestPublicValueUsesTwoLengthBytes) {
    Bytes encoded = encode(modulusOf(1024, 0xFF));
    // INTEGER of 1025 bytes, RSAPublicKey of 1034, BIT STRING contents of 1039, body of 1058.
    EXPECT_EQ(Bytes({0x30, 0x82, 0x04, 0x22}), head(encoded, 4));
    EXPECT_EQ(1062u, encoded.size());
    EXPECT_EQ(Bytes({0x03, 0x82, 0x04, 0x0F, 0x00, 0x30, 0x82, 0x04, 0x0A, 0x02, 0x82, 0x04, 0x01, 0x00}),
              Bytes(encoded.begin() + 19, encoded.begin() + 33));
}
