#include "slots/SessionMonitor.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "slots/SlotEvents.h"

namespace zelmor {

namespace {

// Logs out the sessions whose device is no longer listed. Caller holds
// sessionTableMutex.
void demoteSessionsOfMissingDevices(ModuleState& module, const std::vector<std::string>& devices,
                                    SecretString& password) {
    for (auto& entry : module.sessionTable) {
        SessionRecord& session = entry.second;
        bool listed = std::find(devices.begin(), devices.end(), session.deviceName()) != devices.end();
        if (listed || !isUserState(session.state)) continue;
        logDebug("Device disconnected, clearing userPassword");
        password.clear();
        session.state = session.state == CKS_RW_USER_FUNCTIONS ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    }
}

// One poll: the device list is taken and the table walked under
// sessionTableMutex, so no entry point changes the table in between. Returns
// the number of listed devices.
std::size_t checkDevices(ModuleState& module, SecretString& password) {
    std::lock_guard<std::mutex> guard(module.sessionTableMutex);
    const std::vector<std::string> devices = zelmor_getConnectedDeviceList(false, module.instance());
    demoteSessionsOfMissingDevices(module, devices, password);
    return devices.size();
}

}  // namespace

void noteSessionMonitorStopped() {
    if (moduleState().monitorRunning.exchange(false)) logDebug("Session monitor thread stopped.");
}

std::function<bool()> sessionMonitorStep(SecretString& password) {
    // A new monitor starts from 0, so devices already connected post an event.
    auto previousCount = std::make_shared<std::size_t>(0);
    auto started = std::make_shared<bool>(false);
    return [previousCount, started, &password] {
        ModuleState& module = moduleState();
        if (!*started) {
            *started = true;
            logDebug("Session monitor thread started.");
            module.monitorRunning.store(true);
        }
        if (module.monitorStopRequested.load()) {
            noteSessionMonitorStopped();
            return false;
        }
        // A failing pass (out of memory) must not end the monitor, which would
        // leave the module without device monitoring and monitorRunning set.
        try {
            const std::size_t count = checkDevices(module, password);
            if (count != *previousCount) {
                logDebug("Slot event: device count changed from " + std::to_string(*previousCount) + " to " +
                         std::to_string(count));
                postSlotEvent();
                *previousCount = count;
            }
        } catch (...) {
            logError("Session monitor: device check failed");
        }
        return true;
    };
}

}  // namespace zelmor
