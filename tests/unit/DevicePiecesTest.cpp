// Inputs beyond the device library's 32-bit lengths are handed on in pieces
// (here with a largest piece of 3 bytes instead of 2^32 - 1).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "utils/DevicePieces.h"

namespace {

// The pieces step saw, as "offset+length", and the result.
struct Walk {
    std::vector<std::string> pieces;
    int32_t result;
};

Walk walk(std::size_t length, int32_t failAtPiece = -1) {
    uint8_t data[8] = {};
    Walk seen{{}, 0};
    seen.result = zelmor::forEachDevicePiece(
        data, length, 0,
        [&](uint8_t* piece, uint32_t pieceLength) {
            seen.pieces.push_back(std::to_string(piece - data) + "+" + std::to_string(pieceLength));
            return static_cast<int32_t>(seen.pieces.size()) - 1 == failAtPiece ? 5 : 0;
        },
        3);
    return seen;
}

TEST(DevicePieces, ConsecutivePiecesOfAtMostTheLargestSize) {
    const struct {
        const char* name;
        std::size_t length;
        std::vector<std::string> pieces;
    } rows[] = {
        {"one piece", 3, {"0+3"}},
        {"pieces and a rest", 8, {"0+3", "3+3", "6+2"}},
        {"nothing", 0, {}},
    };
    for (const auto& row : rows) EXPECT_EQ(row.pieces, walk(row.length).pieces) << row.name;
}

TEST(DevicePieces, TheFirstFailureEndsTheWalkWithItsResult) {
    const Walk failed = walk(8, 1);
    EXPECT_EQ(5, failed.result);
    EXPECT_EQ((std::vector<std::string>{"0+3", "3+3"}), failed.pieces);
}

}  // namespace
