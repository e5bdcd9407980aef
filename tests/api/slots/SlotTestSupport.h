// Helpers of the slot tests: token information of the fake's devices, and
// waiting for the session monitor's one-second passes.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "ModuleTest.h"

namespace slot_tests {

using namespace testing_support;

inline std::string text(const unsigned char* field, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(field), size);
}

inline void editToken(const std::string& device, void (*change)(TokenInfo&)) {
    fakeLibrary().edit([&](FakeState& state) { change(state.devices[device].tokenInfo); });
}

// Returns once the monitor has made a full pass that saw the fake's current
// device list (a pass begins with its list query).
inline void waitForMonitorPass() {
    const std::size_t before = fakeLibrary().callCount("zelmor_getConnectedDeviceList");
    for (int i = 0; i < 150 && fakeLibrary().callCount("zelmor_getConnectedDeviceList") == before; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// Lets the monitor see the current devices and drops any pending event.
inline void settleSlotEvents() {
    waitForMonitorPass();
    CK_SLOT_ID slot = 0;
    p11()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr);
}

inline bool logHasDebugLine(const std::string& line) {
    return readFile(todaysLogFile()).find("->DEBUG ::=>" + line + "\n") != std::string::npos;
}

}  // namespace slot_tests
