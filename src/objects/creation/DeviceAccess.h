// What a device-library call made for one session needs, copied out of the
// session table so that the call runs without sessionTableMutex.
#pragma once

#include <string>

#include "pkcs11.h"
#include "sessions/SessionRecord.h"
#include "utils/SecretString.h"

namespace zelmor {

struct DeviceAccess {
    std::string deviceName;
    SecretString password;  // userPassword, empty when nobody is logged in
};

// Copies the session's device name and the user password under the lock.
// CKR_SESSION_HANDLE_INVALID when the session has been closed meanwhile.
CK_RV copyDeviceAccess(SessionRef handle, DeviceAccess* access);

// Takes the lock again after a device call: CKR_OK while the session is
// still open, CKR_SESSION_HANDLE_INVALID once it has been closed.
CK_RV confirmSessionOpen(SessionRef handle);

}  // namespace zelmor
