#include "sessions/Login.h"

#include <cstdint>
#include <mutex>
#include <string>

#include "ZelmorDSCLibrary.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"
#include "utils/SecretString.h"

namespace zelmor {

namespace {

// Password type passed to zelmor_validatePassword for the normal user.
constexpr int32_t devicePasswordUser = 1;

bool validPinLength(CK_ULONG length) { return length >= minPinLength && length <= maxPinLength; }

// Moves every session of deviceName to its user state. Caller holds
// sessionTableMutex. A session in the security-officer state keeps it, and
// the result says another user is logged in.
CK_RV enterUserState(ModuleState& module, const std::string& deviceName) {
    CK_RV result = CKR_OK;
    for (auto& entry : module.sessionTable) {
        SessionRecord& session = entry.second;
        if (session.deviceName() != deviceName) continue;
        switch (session.state) {
            case CKS_RO_PUBLIC_SESSION:
            case CKS_RO_USER_FUNCTIONS: session.state = CKS_RO_USER_FUNCTIONS; break;
            case CKS_RW_PUBLIC_SESSION:
            case CKS_RW_USER_FUNCTIONS: session.state = CKS_RW_USER_FUNCTIONS; break;
            default: result = CKR_USER_ANOTHER_ALREADY_LOGGED_IN; break;
        }
    }
    return result;
}

// Sets userPassword and walks the states. Caller holds sessionTableMutex.
CK_RV completeLogin(ModuleState& module, const SessionRecord& session, const SecretString& pin) {
    module.userPassword = pin;
    logDebug("Login state : " + std::to_string(session.state));
    const CK_RV result = enterUserState(module, session.deviceName());
    logDebug("Login end result : " + std::to_string(result));
    return result;
}

CK_RV validationFailure(int32_t result, int32_t retryCount) {
    logError("Token password validation failed : " + std::to_string(result));
    if (result == ZelmorResult::deviceNotConnected) return CKR_FUNCTION_FAILED;
    logError("Token password validation failed, retry count : " + std::to_string(retryCount));
    return retryCount != 0 ? CKR_PIN_INCORRECT : CKR_PIN_LOCKED;
}

}  // namespace

CK_RV login(SessionRef handle, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength) {
    ModuleState& module = moduleState();
    std::string deviceName;
    SecretString pinCopy;
    bool validated = false;
    CK_RV rv = withSession(handle, [&](SessionRecord& session) -> CK_RV {
        if (userType != CKU_USER) return CKR_USER_TYPE_INVALID;
        if (isUserState(session.state)) {
            logDebug("C_Login: User already logged in");
            return CKR_USER_ALREADY_LOGGED_IN;
        }
        if (pin == nullptr) return CKR_ARGUMENTS_BAD;
        if (!validPinLength(pinLength)) return CKR_PIN_LEN_RANGE;
        pinCopy.assign(pin, pinLength);
        deviceName = session.deviceName();
        // The PIN of the current login needs no new check by the device (no
        // login: the kept PIN is empty, and a valid PIN never is).
        validated = module.userPassword.equals(pin, pinLength);
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;

    if (!validated) {
        // Without sessionTableMutex: the device may take its time, and other
        // sessions go on meanwhile.
        int32_t retryCount = 0;
        const int32_t result = zelmor_validatePassword(deviceName.c_str(), pinCopy.c_str(), devicePasswordUser,
                                                       &retryCount, module.instance());
        if (result != ZelmorResult::ok) return validationFailure(result, retryCount);
    }
    // A session closed during the device's check gets CKR_SESSION_HANDLE_INVALID.
    return withSession(handle, [&](SessionRecord& session) { return completeLogin(module, session, pinCopy); });
}

CK_RV logout(SessionRef handle) {
    ModuleState& module = moduleState();
    CK_RV rv = withSession(handle, [&](SessionRecord& session) -> CK_RV {
        if (session.state == CKS_RO_PUBLIC_SESSION || session.state == CKS_RW_PUBLIC_SESSION) {
            return CKR_USER_NOT_LOGGED_IN;
        }
        const std::string deviceName = session.deviceName();
        for (auto& entry : module.sessionTable) {
            SessionRecord& other = entry.second;
            if (other.deviceName() != deviceName) continue;
            if (other.state == CKS_RO_USER_FUNCTIONS) {
                other.state = CKS_RO_PUBLIC_SESSION;
            } else if (other.state == CKS_RW_USER_FUNCTIONS || other.state == CKS_RW_SO_FUNCTIONS) {
                other.state = CKS_RW_PUBLIC_SESSION;
            }
        }
        module.userPassword.clear();
        return CKR_OK;
    });
    if (rv == CKR_OK) logDebug("C_Logout end");
    return rv;
}

CK_RV setPin(SessionRef handle, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
             CK_ULONG newLength) {
    ModuleState& module = moduleState();
    std::string deviceName;
    CK_RV rv = withSession(handle, [&](SessionRecord& session) -> CK_RV {
        if (isReadOnlyState(session.state)) return CKR_SESSION_READ_ONLY;
        if (oldPin == nullptr) return CKR_ARGUMENTS_BAD;
        if (!validPinLength(oldLength)) return CKR_PIN_LEN_RANGE;
        if (newPin == nullptr) return CKR_ARGUMENTS_BAD;
        if (!validPinLength(newLength)) return CKR_PIN_LEN_RANGE;
        deviceName = session.deviceName();
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;

    const SecretString oldCopy(oldPin, oldLength);
    const SecretString newCopy(newPin, newLength);
    int32_t retryCount = 0;  // filled by the device, not used
    if (!zelmor_changeUserPassword(deviceName.c_str(), oldCopy.c_str(), newCopy.c_str(), &retryCount, false, false,
                                   module.instance())) {
        return CKR_FUNCTION_FAILED;
    }
    // The device now holds the new PIN. A logged-in module must pass it from
    // here on, even if the calling session was closed during the change:
    // keeping the old one would spend the device's PIN tries.
    std::lock_guard<std::mutex> guard(module.sessionTableMutex);
    if (!module.userPassword.empty()) module.userPassword = newCopy;
    return CKR_OK;
}

}  // namespace zelmor
