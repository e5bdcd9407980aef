// The slot cache: the connected devices found by the last C_GetSlotList and
// the token information of each, looked up by slot ID.
#pragma once

#include <optional>

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"

namespace zelmor {

// C_GetSlotList after the prologue: asks the device library for the
// connected devices and, given a large enough buffer, rebuilds the cache.
CK_RV listSlots(CK_SLOT_ID_PTR slotList, CK_ULONG_PTR count);

// A copy of the cached token information of a slot, or none when the slot ID
// was not handed out by the last C_GetSlotList (or its device had no token).
std::optional<TokenInfo> findSlot(CK_SLOT_ID slotID);

}  // namespace zelmor
