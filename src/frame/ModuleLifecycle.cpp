#include "frame/ModuleLifecycle.h"

#include <cstring>
#include <mutex>

#include "frame/CallGate.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "frame/StandardsMode.h"
#include "sessions/SessionTable.h"
#include "slots/SessionMonitor.h"
#include "utils/TextFields.h"

namespace zelmor {

CK_RV initializeModule() {
    ModuleState& module = moduleState();
    // Called from inside another call (the device library calling back, say):
    // that call was admitted, so the module is initialised, and C_Finalize
    // cannot end before that call does. Answered without the lifecycle lock,
    // which a C_Finalize waiting for that very call may hold.
    if (CallGate::callingThreadIsInside()) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    std::lock_guard<std::mutex> lifecycle(module.lifecycleMutex);
    if (module.isInitialised()) return CKR_CRYPTOKI_ALREADY_INITIALIZED;

    module.standardsMode.store(readStandardsSetting());
    if (module.standardsMode.load()) logDebug("Standards mode on");

    ZelmorInstance instance = nullptr;
    zelmor_createInstance(&instance);
    module.deviceLibraryInstance.store(instance);

    if (module.monitorRunning.load() || module.monitorThread.joinable()) {
        logDebug("Monitor already running. Stopping old thread.");
        stopDeviceMonitor();
    }
    module.monitorStopRequested.store(false);
    bool started = module.monitorThread.start(sessionMonitorStep(module.userPassword), monitorPauseMilliseconds);
    if (!started) {
        // Without its monitor the module would never notice unplugged devices.
        logError("Unable to start the session monitor thread");
        if (instance != nullptr) zelmor_releaseInstance(instance);
        module.deviceLibraryInstance.store(nullptr);
        return CKR_FUNCTION_FAILED;
    }

    if (instance == nullptr) {
        logError("Init pkcs11 library failed failed");
    } else {
        // Only now that the monitor runs: no call sees a module half started.
        module.callGate.open();
    }
    return CKR_OK;
}

CK_RV finalizeModule() {
    ModuleState& module = moduleState();
    if (!module.isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CallGate::callingThreadIsInside()) {
        // It would wait for the very call it is made from, for ever.
        logError("C_Finalize called from inside another call of this module: refused");
        return CKR_FUNCTION_FAILED;
    }
    std::lock_guard<std::mutex> lifecycle(module.lifecycleMutex);
    // Another C_Finalize may have finished while this one waited for the lock.
    if (!module.isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    // From here calls are refused. The monitor is stopped before the calls
    // inside are waited for, because stopping it also wakes the blocked
    // C_WaitForSlotEvent callers (with 0x190), which are calls inside too.
    module.callGate.close();
    stopDeviceMonitor();
    if (!module.callGate.empty()) logDebug("C_Finalize: waiting for the calls in progress.");
    module.callGate.waitUntilEmpty();
    std::vector<ZelmorHashContext> unfinished;
    {
        // Unfinished digests are handed back while the instance still exists.
        std::lock_guard<std::mutex> guard(module.sessionTableMutex);
        unfinished = takeHashContexts(module.sessionTable);
    }
    releaseHashContexts(unfinished);
    // Taken out before it is released: no call can pass it on afterwards.
    zelmor_releaseInstance(module.deviceLibraryInstance.exchange(nullptr));
    {
        std::lock_guard<std::mutex> guard(module.slotCacheMutex);
        module.slotCache.clear();
        module.slotIdentifiers.clear();
    }
    {
        std::lock_guard<std::mutex> guard(module.sessionTableMutex);
        module.sessionTable.clear();
        module.userPassword.clear();
    }
    logDebug("C_Finalize completed successfully.");
    return CKR_OK;
}

CK_RV fillModuleInfo(CK_INFO_PTR info) {
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion.major = 2;
    info->cryptokiVersion.minor = 20;
    copyTextField(info->manufacturerID, sizeof info->manufacturerID, "Trevanic");
    copyTextField(info->libraryDescription, sizeof info->libraryDescription, "Zelmor PKCS11 Library");
    info->libraryVersion.major = 3;
    info->libraryVersion.minor = 6;
    return CKR_OK;
}

}  // namespace zelmor
