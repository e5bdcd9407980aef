#include "frame/ModuleLifecycle.h"

#include <cstring>
#include <mutex>

#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "frame/StandardsMode.h"
#include "sessions/SessionTable.h"
#include "slots/SessionMonitor.h"
#include "utils/TextFields.h"

namespace zelmor {

CK_RV initializeModule() {
    ModuleState& module = moduleState();
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

    if (instance == nullptr) logError("Init pkcs11 library failed failed");
    return CKR_OK;
}

CK_RV finalizeModule() {
    ModuleState& module = moduleState();
    std::lock_guard<std::mutex> lifecycle(module.lifecycleMutex);
    // Another C_Finalize may have finished while this one waited for the lock.
    if (!module.isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    stopDeviceMonitor();
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
    info->flags = 0;
    copyTextField(info->libraryDescription, sizeof info->libraryDescription, "Zelmor PKCS11 Library");
    info->libraryVersion.major = 3;
    info->libraryVersion.minor = 6;
    return CKR_OK;
}

}  // namespace zelmor
