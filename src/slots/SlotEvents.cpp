#include "slots/SlotEvents.h"

#include <mutex>
#include <string>

#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "slots/SlotIds.h"

namespace zelmor {

void postSlotEvent() {
    ModuleState& module = moduleState();
    {
        std::lock_guard<std::mutex> guard(module.eventMutex);
        module.eventSlotId.store(firstSlotId);
        module.slotEventPending.store(true);
    }
    module.slotEventCondition.notify_all();
}

CK_RV waitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slot) {
    if (slot == nullptr) return CKR_ARGUMENTS_BAD;
    ModuleState& module = moduleState();

    if (flags & CKF_DONT_BLOCK) {
        // The exchange hands one event to exactly one caller; no lock needed.
        if (!module.slotEventPending.exchange(false)) return CKR_NO_EVENT;
        const SlotId eventSlot = module.eventSlotId.load();
        *slot = eventSlot;
        logDebug("C_WaitForSlotEvent: non-blocking, returning slot " + std::to_string(eventSlot));
        return CKR_OK;
    }

    // stopDeviceMonitor sets the stop flag and notifies under eventMutex, so
    // the stop cannot slip in between the test and the wait.
    std::unique_lock<std::mutex> lock(module.eventMutex);
    while (!module.slotEventPending.load() && !module.monitorStopRequested.load()) {
        module.slotEventCondition.wait(lock);
    }
    if (module.monitorStopRequested.load()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    module.slotEventPending.store(false);
    const SlotId eventSlot = module.eventSlotId.load();
    *slot = eventSlot;
    logDebug("C_WaitForSlotEvent: blocking, returning slot " + std::to_string(eventSlot));
    return CKR_OK;
}

}  // namespace zelmor
