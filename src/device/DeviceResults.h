// Mapping of device-library results to PKCS#11 return values.
#pragma once

#include <cstdint>

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"

namespace zelmor {

// Object creation and key generation: a full device is CKR_DEVICE_MEMORY,
// any other failure CKR_FUNCTION_FAILED.
inline CK_RV creationFailure(int32_t result) {
    return result == ZelmorResult::deviceMemoryFull || result == ZelmorResult::deviceMemoryFullAlt
               ? CKR_DEVICE_MEMORY
               : CKR_FUNCTION_FAILED;
}

// Changing or deleting an existing object: every failure is CKR_FUNCTION_FAILED.
inline CK_RV objectChangeFailure(int32_t) { return CKR_FUNCTION_FAILED; }

}  // namespace zelmor
