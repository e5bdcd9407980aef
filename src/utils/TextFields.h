// Filling the fixed-width text fields of PKCS#11 information structures.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace zelmor {

// Writes text zero-terminated and zero-filled into a field of size bytes,
// cut so that the terminator fits.
inline void copyTextField(unsigned char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    if (size == 0) return;
    std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), length);
}

// Writes up to size bytes of text with no terminator when it fills the field;
// the rest of the field is zero.
inline void copyBytesField(unsigned char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size);
}

}  // namespace zelmor
