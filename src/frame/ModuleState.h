// The module-wide objects: constructed when the module is loaded, destroyed
// when it is unloaded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "ZelmorDSCLibrary.h"
#include "frame/CallGate.h"
#include "platform/Platform.h"
#include "sessions/SessionRecord.h"
#include "utils/SecretString.h"
#include "utils/Utils.h"

struct ModuleState {
    // Serialises C_Initialize and C_Finalize: applications and the plug-ins
    // they load may each start or stop the module from their own thread.
    // Taken before every other lock; no other entry point takes it.
    std::mutex lifecycleMutex;

    // Non-null exactly while the module is initialised.
    std::atomic<ZelmorInstance> deviceLibraryInstance{nullptr};

    // Admits the calls that need an initialised module: open from the end of
    // a successful C_Initialize until C_Finalize begins, which then waits
    // for the calls still inside (frame/CallGate.h).
    zelmor::CallGate callGate;

    // The session monitor (a thread on Linux, a thread-pool timer on Windows).
    platform::RepeatingTask monitorThread;
    std::atomic<bool> monitorRunning{false};
    std::atomic<bool> monitorStopRequested{false};
    std::atomic<bool> slotEventPending{false};
    std::atomic<SlotId> eventSlotId{0};
    std::mutex eventMutex;
    std::condition_variable slotEventCondition;

    // Guards sessionTable and userPassword. Never held across a device-library
    // call made for one session; taken before eventMutex and the log lock.
    std::mutex sessionTableMutex;
    std::map<SessionHandle, SessionRecord> sessionTable;
    SecretString userPassword;
    // The serial of the last session opened; never reset, so a serial is
    // never given twice while the module is loaded.
    uint64_t lastSessionSerial = 0;

    // Slots found by the last C_GetSlotList, by device identifier.
    std::mutex slotCacheMutex;
    std::map<std::string, TokenInfo> slotCache;
    // The device identifier behind each slot ID that the last C_GetSlotList
    // handed out, so a slot ID reaches its device whatever the list order.
    // Guarded by slotCacheMutex; an identifier no longer in slotCache names
    // no slot.
    std::map<SlotId, std::string> slotIdentifiers;

    Utils utils;

    // The standards setting, read at C_Initialize (frame/StandardsMode.h).
    std::atomic<bool> standardsMode{false};

    ModuleState() = default;
    ~ModuleState();
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;

    bool isInitialised() const { return deviceLibraryInstance.load() != nullptr; }
    ZelmorInstance instance() const { return deviceLibraryInstance.load(); }
};

ModuleState& moduleState();

// Stops and joins the session monitor thread (not when called on it).
void stopDeviceMonitor();
