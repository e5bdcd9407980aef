// The two-call output convention: a null buffer asks for the length, a short
// buffer gets CKR_BUFFER_TOO_SMALL and the length, a large enough one the bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pkcs11.h"

namespace zelmor {

enum class OutputStep { LengthReported, TooSmall, Copied };

// Reports or copies the size bytes at data; *length is always set to size.
inline OutputStep deliverOutput(const uint8_t* data, std::size_t size, CK_BYTE_PTR buffer, CK_ULONG_PTR length) {
    CK_ULONG offered = *length;
    *length = static_cast<CK_ULONG>(size);
    if (buffer == nullptr) return OutputStep::LengthReported;
    if (offered < size) return OutputStep::TooSmall;
    std::copy_n(data, size, buffer);
    return OutputStep::Copied;
}

inline CK_RV resultOf(OutputStep step) { return step == OutputStep::TooSmall ? CKR_BUFFER_TOO_SMALL : CKR_OK; }

}  // namespace zelmor
