// Reads a fuzzer input as a stream of decisions. Past the end every read
// gives zeros, so any input, the empty one included, is a complete script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace fuzzing {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }
    std::size_t remaining() const { return empty() ? 0 : size_ - position_; }

    uint8_t byte() { return empty() ? 0 : data_[position_++]; }
    bool flag() { return (byte() & 1) != 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    uint64_t u64() { return static_cast<uint64_t>(u32()) | (static_cast<uint64_t>(u32()) << 32); }

    // A number below limit (limit > 0).
    std::size_t below(std::size_t limit) { return u16() % limit; }

    // One of the values, or (one time in eight) an arbitrary 64-bit value.
    template <typename T, std::size_t N>
    T pick(const T (&values)[N]) {
        uint8_t choice = byte();
        if ((choice & 7) == 7) return static_cast<T>(u64());
        return values[(choice >> 3) % N];
    }

    // Up to maxLength bytes taken from the input.
    std::vector<uint8_t> bytes(std::size_t maxLength) {
        std::size_t length = below(maxLength + 1);
        if (length > remaining()) length = remaining();
        std::vector<uint8_t> out(data_ + position_, data_ + position_ + length);
        position_ += length;
        return out;
    }

    std::string text(std::size_t maxLength) {
        std::vector<uint8_t> raw = bytes(maxLength);
        return std::string(raw.begin(), raw.end());
    }

    // Length values a hostile caller or device likes: zero, tiny, at and
    // around field sizes, negative, huge.
    int32_t hostileLength(int32_t fieldSize) {
        const int32_t values[] = {0, 1, 2, 16, 20, 32, 64, 65, 128, 129, 255, 256, 384, 512, 1023, 1024, 1025,
                                  fieldSize - 1, fieldSize, fieldSize + 1, -1, -2, INT32_MIN, INT32_MAX, 4096, 3072,
                                  3073, 133, 97};
        uint8_t choice = byte();
        if ((choice & 7) == 7) return static_cast<int32_t>(u32());
        return values[(choice >> 3) % (sizeof values / sizeof values[0])];
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace fuzzing
