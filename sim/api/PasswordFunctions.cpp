// User PIN validation and change.
#include "../device/PasswordCheck.h"
#include "ApiGuard.h"
#include "SimInstance.h"

using namespace zelmor::sim;

namespace {
constexpr int32_t normalUser = 1;
}

int32_t zelmor_validatePassword(const char* deviceName, const char* password, int32_t userType, int32_t* retryCount,
                                ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        if (userType != normalUser) return result::invalidArgument;
        const PasswordOutcome outcome = checkPassword(SimInstance::from(instance)->store(), device, password);
        if (retryCount != nullptr) *retryCount = outcome.remainingTries;
        return outcome.result;
    });
}

bool zelmor_changeUserPassword(const char* deviceName, const char* oldPassword, const char* newPassword,
                               int32_t* retryCount, bool /*flag1*/, bool /*flag2*/, ZelmorInstance instance) {
    return guarded<bool>(false, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return false;
        const PasswordOutcome outcome =
            changePassword(SimInstance::from(instance)->store(), device, oldPassword, newPassword);
        if (retryCount != nullptr) *retryCount = outcome.remainingTries;
        return outcome.result == result::ok;
    });
}
