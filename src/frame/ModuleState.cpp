#include "frame/ModuleState.h"

#include "frame/Log.h"
#include "slots/SessionMonitor.h"

namespace {
// Constructed at load, destroyed at unload.
ModuleState state;
}  // namespace

ModuleState& moduleState() { return state; }

ModuleState::~ModuleState() {
    // Unload without C_Finalize: the monitor must stop before the objects it
    // uses are destroyed (on Windows this runs inside DllMain, see
    // platform/windows/WindowsThread.cpp for why that wait is safe).
    if (monitorRunning.load() || monitorThread.joinable()) stopDeviceMonitor();
}

void stopDeviceMonitor() {
    ModuleState& module = moduleState();
    {
        // Under eventMutex so that a C_WaitForSlotEvent caller that has just
        // tested the flag cannot miss the wake-up.
        std::lock_guard<std::mutex> guard(module.eventMutex);
        module.monitorStopRequested.exchange(true);
        module.slotEventCondition.notify_all();
    }
    if (module.monitorThread.joinable() && !module.monitorThread.isCurrentThread()) {
        if (platform::processIsExiting()) {
            // The system has already ended the thread.
            module.monitorThread.detach();
        } else {
            module.monitorThread.join();
            zelmor::noteSessionMonitorStopped();
            zelmor::logDebug("Monitor thread joined (stopDeviceMonitor).");
        }
    }
    module.monitorRunning.store(false);
}
