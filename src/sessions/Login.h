// The module-wide login: C_Login, C_Logout and C_SetPIN. The device checks
// and changes the PIN; userPassword keeps the PIN of the logged-in user.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// PIN lengths accepted by login and PIN change, in bytes.
constexpr CK_ULONG minPinLength = 4;
constexpr CK_ULONG maxPinLength = 63;

// The entry points after their prologue (the session was found).
CK_RV login(SessionRef handle, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength);
CK_RV logout(SessionRef handle);
CK_RV setPin(SessionRef handle, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
             CK_ULONG newLength);

}  // namespace zelmor
