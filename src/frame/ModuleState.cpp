#include "frame/ModuleState.h"

#include <atomic>

#include "frame/Log.h"
#include "slots/SessionMonitor.h"

namespace {

// Set when an unload could not wait for a monitor run that was still
// executing (Windows, platform/windows/WindowsThread.cpp): the module stays
// loaded for it, and so must the objects it uses.
std::atomic<bool> monitorLeftRunning{false};

// Constructed at load. At unload without C_Finalize the monitor is stopped
// before the objects it uses are destroyed; a monitor left running keeps them.
// The instance of a module unloaded without C_Finalize is not released (the
// device library may be gone by then): it is kept here, outside the state, as
// the one reference to it for as long as the module stays mapped.
std::atomic<ZelmorInstance> unreleasedInstance{nullptr};

struct StateOwner {
    ModuleState* state = new ModuleState;
    ~StateOwner() {
        if (state->monitorRunning.load() || state->monitorThread.joinable()) stopDeviceMonitor();
        if (monitorLeftRunning.load()) return;
        unreleasedInstance.store(state->deviceLibraryInstance.load());
        delete state;
    }
};
StateOwner owner;

}  // namespace

ModuleState& moduleState() { return *owner.state; }

ModuleState::~ModuleState() = default;

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
        } else if (module.monitorThread.join()) {
            zelmor::noteSessionMonitorStopped();
            zelmor::logDebug("Monitor thread joined (stopDeviceMonitor).");
        } else {
            monitorLeftRunning.store(true);
            zelmor::logDebug("Monitor pass still running at unload: the module stays loaded for it.");
        }
    }
    module.monitorRunning.store(false);
}
