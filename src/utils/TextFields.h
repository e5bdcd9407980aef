// Filling the fixed-width text fields of PKCS#11 information structures.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace zelmor {

// Writes text zero-terminated and zero-filled into a field of size bytes,
// cut so that the terminator fits.
inline void copyTextField(unsigned char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    if (size == 0) return;
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

// Writes up to size bytes of text with no terminator when it fills the field;
// the rest of the field is zero.
inline void copyBytesField(unsigned char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size));
}

}  // namespace zelmor
