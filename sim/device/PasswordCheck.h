// The device's user PIN: verification with the retry counter, and change.
//
// A wrong PIN uses up one try and, at zero tries, locks the PIN; a right one
// restores the full count. An empty PIN is refused without using a try. A PIN
// this instance has verified is recognised by its tag while the stored hash is
// unchanged and no try has been used, without running PBKDF2 again.
#pragma once

#include "DeviceRegistry.h"

#include <cstdint>

namespace zelmor::sim {

struct PasswordOutcome {
    int32_t result;
    int32_t remainingTries;
};

// ok, pinIncorrect, pinLocked, deviceNotConnected or storeFailure.
PasswordOutcome checkPassword(const DeviceStore& store, const PluggedDevice& device, const char* password);

// Verifies the old PIN as checkPassword does, then stores the new one.
// invalidArgument (no try used) for a new PIN outside 4 to 63 bytes.
PasswordOutcome changePassword(const DeviceStore& store, const PluggedDevice& device, const char* oldPassword,
                               const char* newPassword);

// A fresh salted hash record of the PIN.
PinRecord makePinRecord(std::string_view pin);

bool isAcceptablePinLength(std::size_t length);

}  // namespace zelmor::sim
