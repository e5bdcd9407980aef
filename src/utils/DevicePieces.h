// Inputs larger than the device library's 32-bit lengths go to it in pieces.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace zelmor {

constexpr std::size_t largestDevicePiece = std::numeric_limits<uint32_t>::max();

// Calls step(piece, pieceLength) on the consecutive pieces of the length
// bytes at data, each at most largestPiece bytes, in order. Stops at the
// first result other than ok and returns it; ok when every piece went.
template <typename Byte, typename Step>
int32_t forEachDevicePiece(Byte* data, std::size_t length, int32_t ok, Step step,
                           std::size_t largestPiece = largestDevicePiece) {
    while (length > 0) {
        const std::size_t piece = std::min(length, largestPiece);
        const int32_t result = step(data, static_cast<uint32_t>(piece));
        if (result != ok) return result;
        data += piece;
        length -= piece;
    }
    return ok;
}

}  // namespace zelmor
