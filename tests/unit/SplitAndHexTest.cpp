#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/Log.h"
#include "utils/SecretString.h"
#include "utils/TextFields.h"
#include "utils/Utils.h"

using Pieces = std::vector<std::string>;

TEST(Split, CutsAtEveryDelimiterKeepingEmptyPieces) {
    Utils utils;
    EXPECT_EQ(Pieces({"app", "test", "exe"}), utils.split("app.test.exe", "."));
    EXPECT_EQ(Pieces({"", "a", "", "b", ""}), utils.split(".a..b.", "."));
    EXPECT_EQ(Pieces({"whole"}), utils.split("whole", "."));
    EXPECT_EQ(Pieces({""}), utils.split("", "."));
    EXPECT_EQ(Pieces({"1", "2"}), utils.split("1::2", "::"));
}

TEST(Hex, UpperCaseTwoDigitsPerByte) {
    const unsigned char bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    EXPECT_EQ("000FA5FF", zelmor::toHex(bytes, sizeof bytes));
    EXPECT_EQ("", zelmor::toHex(bytes, 0));
}

TEST(TextFields, ZeroTerminatedAndCutToTheField) {
    unsigned char field[8];
    std::memset(field, 0xEE, sizeof field);
    zelmor::copyTextField(field, sizeof field, "abc");
    EXPECT_EQ(0, std::memcmp(field, "abc\0\0\0\0\0", 8));
    zelmor::copyTextField(field, sizeof field, "0123456789");
    EXPECT_EQ(0, std::memcmp(field, "0123456\0", 8));
    zelmor::copyBytesField(field, sizeof field, "0123456789");
    EXPECT_EQ(0, std::memcmp(field, "01234567", 8));
}

TEST(SecretString, ComparesBytesAndEmptiesOnClear) {
    SecretString secret("1234", 4);
    EXPECT_TRUE(secret.equals("1234", 4));
    EXPECT_FALSE(secret.equals("12345", 5));
    EXPECT_FALSE(secret.equals("1235", 4));
    secret.assign("9999999", 7);
    EXPECT_STREQ("9999999", secret.c_str());
    secret.clear();
    EXPECT_TRUE(secret.empty());
    EXPECT_TRUE(secret.equals("", 0));
}

// SecretBytes grows into buffers of its own (to wipe the old one): the bytes
// must survive every growth.
TEST(SecretBytes, KeepsAppendedBytesAcrossGrowthAndEmptiesOnClear) {
    SecretBytes bytes;
    std::vector<uint8_t> expected;
    for (uint8_t part = 1; part <= 40; ++part) {
        const std::vector<uint8_t> piece(part, part);
        bytes.append(piece.data(), piece.size());
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    ASSERT_EQ(expected.size(), bytes.size());
    EXPECT_EQ(expected, std::vector<uint8_t>(bytes.data(), bytes.data() + bytes.size()));
    SecretBytes copy = bytes;
    bytes.clear();
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(expected, std::vector<uint8_t>(copy.data(), copy.data() + copy.size()));
}
