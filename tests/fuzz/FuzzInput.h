// Reads a fuzzer's input (or the stress program's random bytes) as a stream
// of decisions. Past the end every read gives zeros, so any input, the empty
// one included, is a complete script.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzing {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : data_(data), end_(data + size) {}

    bool empty() const { return data_ == end_; }
    uint8_t byte() { return empty() ? 0 : *data_++; }
    bool flag() { return (byte() & 1) != 0; }
    uint64_t u64() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value = value << 8 | byte();
        return value;
    }
    std::size_t below(std::size_t limit) {  // limit > 0
        const std::size_t low = byte();
        return (low | std::size_t{byte()} << 8) % limit;
    }

    // One of the values or, one time in eight, an arbitrary one.
    template <typename T, std::size_t N>
    T pick(const T (&values)[N]) {
        const uint8_t choice = byte();
        return (choice & 7) == 7 ? static_cast<T>(u64()) : values[(choice >> 3) % N];
    }

    // Up to maxLength bytes of the input.
    std::vector<uint8_t> bytes(std::size_t maxLength) {
        const std::size_t wanted = below(maxLength + 1);
        const uint8_t* start = data_;
        data_ += std::min<std::size_t>(wanted, end_ - data_);
        return std::vector<uint8_t>(start, data_);
    }

private:
    const uint8_t* data_;
    const uint8_t* end_;
};

}  // namespace fuzzing
