// The fixed set of mechanisms the module supports, the same for every slot.
#pragma once

#include <cstddef>

#include "pkcs11.h"

namespace zelmor {

struct MechanismEntry {
    CK_MECHANISM_TYPE type;
    CK_ULONG minKeySize;  // bits: RSA modulus or elliptic-curve field size
    CK_ULONG maxKeySize;
    CK_FLAGS flags;
};

constexpr std::size_t mechanismCount = 15;

// In the order C_GetMechanismList reports them.
extern const MechanismEntry mechanismTable[mechanismCount];

// The table entry of a mechanism, or null when it is not supported.
const MechanismEntry* findMechanism(CK_MECHANISM_TYPE type);

// C_GetMechanismList and C_GetMechanismInfo after the prologue.
CK_RV listMechanisms(CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count);
CK_RV describeMechanism(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info);

}  // namespace zelmor
