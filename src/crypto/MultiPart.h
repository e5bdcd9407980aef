// Multi-part input shared by signing and verification: raw mechanisms
// collect the parts in the session's dataBuffer, hashing mechanisms feed them
// to the session's hash context.
#pragma once

#include <cstdint>

#include "crypto/HashContext.h"
#include "crypto/MechanismHashes.h"
#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

struct PartFailureTexts {
    const char* initHashFailed;    // "C_SignUpdate: initHash failed "
    const char* updateHashFailed;  // "C_SignUpdate: updateHash failed "
};

// C_SignUpdate / C_VerifyUpdate for the session's active `operation`. The
// first part of a hashing mechanism opens the hash context. A device failure
// ends the operation.
CK_RV absorbPart(SessionRef handle, ActiveOperation operation, CK_BYTE_PTR part, CK_ULONG partLength,
                 const PartFailureTexts& texts);

// The input of C_SignFinal / C_VerifyFinal: taken out of the session under
// the lock (the session's hash context and data buffer are empty afterwards,
// whatever the outcome), then finished without it.
struct PendingInput {
    int32_t hashAlgorithm = rawInput;
    ZelmorHashContext context = nullptr;
    SecretBytes parts;
    HashValue hash;

    // CKR_OPERATION_ACTIVE, and nothing taken, while a C_SignUpdate or
    // C_VerifyUpdate of the session works on the hash context.
    CK_RV takeFrom(SessionRecord& record);
    // Hashing mechanisms: finishes the context (also a never-opened one: the
    // library decides). Raw mechanisms: nothing to do. Returns the library's result.
    int32_t finish();
    const uint8_t* data() const { return hashAlgorithm == rawInput ? parts.data() : hash.bytes; }
    uint32_t length() const {
        return hashAlgorithm == rawInput ? static_cast<uint32_t>(parts.size()) : hash.length;
    }
};

}  // namespace zelmor
