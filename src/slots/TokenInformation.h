// The slot and token information structures, filled from a device's
// TokenInfo record.
#pragma once

#include <cstdint>
#include <string>

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"

namespace zelmor {

// C_GetSlotInfo and C_GetTokenInfo after the prologue: answered from the slot
// cache, never from the device library.
CK_RV getSlotInformation(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR info);
CK_RV getTokenInformation(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR info);

// "major.minor" text to a version: each part is read like the C run-time's
// text-to-int conversion and its low 8 bits are kept; a missing minor is 0.
CK_VERSION parseFirmwareVersion(const std::string& text);

// The user-PIN flags of the remaining PIN attempts.
CK_FLAGS pinFlags(int32_t remainingPinAttempts);

void fillSlotInfo(const TokenInfo& token, CK_SLOT_INFO& info);

// The session counts are passed in: they come from the session table.
void fillTokenInfo(const TokenInfo& token, CK_ULONG roPublicSessions, CK_ULONG rwPublicSessions,
                   CK_TOKEN_INFO& info);

}  // namespace zelmor
