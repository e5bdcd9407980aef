#include "slots/SessionMonitor.h"

#include <algorithm>
#include <string>
#include <vector>

#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "slots/SlotIds.h"

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

void postSlotEvent(ModuleState& module) {
    {
        std::lock_guard<std::mutex> guard(module.eventMutex);
        module.eventSlotId.store(firstSlotId);
        module.slotEventPending.store(true);
    }
    module.slotEventCondition.notify_all();
}

}  // namespace

void runSessionMonitor(SecretString& password) {
    ModuleState& module = moduleState();
    logDebug("Session monitor thread started.");
    module.monitorRunning.store(true);

    std::size_t previousCount = 0;
    while (!module.monitorStopRequested.load()) {
        std::vector<std::string> devices;
        {
            std::lock_guard<std::mutex> guard(module.sessionTableMutex);
            devices = zelmor_getConnectedDeviceList(false, module.instance());
            demoteSessionsOfMissingDevices(module, devices, password);
        }
        std::size_t count = devices.size();
        if (count != previousCount) {
            logDebug("Slot event: device count changed from " + std::to_string(previousCount) + " to " +
                     std::to_string(count));
            postSlotEvent(module);
            previousCount = count;
        }
        module.utils.pause(monitorPauseMilliseconds);
    }

    logDebug("Session monitor thread stopped.");
    module.monitorRunning.store(false);
}

}  // namespace zelmor
