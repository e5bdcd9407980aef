// The two-call output convention: a null buffer asks for the length, a short
// buffer gets CKR_BUFFER_TOO_SMALL and the length, a large enough one the bytes.
#pragma once

#include <cstring>
#include <vector>

#include "pkcs11.h"

namespace zelmor {

enum class OutputStep { LengthReported, TooSmall, Copied };

// Reports or copies bytes; *length is always set to bytes.size().
inline OutputStep deliverOutput(const std::vector<unsigned char>& bytes, CK_BYTE_PTR buffer, CK_ULONG_PTR length) {
    CK_ULONG offered = *length;
    *length = static_cast<CK_ULONG>(bytes.size());
    if (buffer == nullptr) return OutputStep::LengthReported;
    if (offered < bytes.size()) return OutputStep::TooSmall;
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    return OutputStep::Copied;
}

inline CK_RV resultOf(OutputStep step) { return step == OutputStep::TooSmall ? CKR_BUFFER_TOO_SMALL : CKR_OK; }

}  // namespace zelmor
