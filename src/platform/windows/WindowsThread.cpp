// Repeating task on Windows, and the module's DllMain.
//
// Unloading: an application may call FreeLibrary without C_Finalize, and the
// module must then really go: the monitor stops and no thread is left running
// module code once it is unmapped. A thread of our own cannot give that: if it
// holds a reference to the module, FreeLibrary never unloads it; if it does
// not, DllMain would have to wait for it to end, and an ending thread needs the
// loader lock that DllMain holds.
//
// So the task is a thread-pool timer that fires once per run and is armed
// again at the end of each run. Between runs no thread is in the module, and
// the timer holds no reference to it; a stop disarms the timer, so the pause
// between runs ends at once. SetThreadpoolCallbackLibrary is not used: under
// Wine it keeps a reference to the module for the timer's whole life, which
// is the very pinning this avoids.
//
// At unload the module's destructors (inside DllMain) join the task. When no
// run is executing, the join disarms the timer, and a run that the pool has
// already dispatched sees the stop at its first step and returns without
// calling the device library, so the wait for it is short and the module is
// unmapped as usual. When a run is executing, it may be inside the device
// library, whose connected-device list is code we do not control: it may load
// a DLL, start a thread or enumerate devices, all of which need the loader
// lock that DllMain holds, so waiting for the run could deadlock FreeLibrary.
// The join then does not wait: it pins the module (it stays mapped until the
// process ends) and tells its owner, which leaves the objects that the run
// uses alive (frame/ModuleState.cpp). The run ends on its own and does not arm
// the timer again. Pinning is the rare case (an unload without C_Finalize,
// during the few milliseconds of a poll); it costs the memory of one module,
// where waiting could hang the application.
//
// Pinning at unload comes too late for the DLLs the module imports (the device
// library, advapi32, the C runtime): by the time DllMain runs, the loader has
// already dropped the module's references to them, and one that nothing else
// holds is unmapped right after, under a run that still calls it. So the task
// takes a reference to each of them when it starts and gives them back when a
// stop has waited for its runs outside DllMain (C_Finalize, a new
// C_Initialize). An unload without C_Finalize keeps them: FreeLibrary is not
// called from DllMain, and a run left executing needs them.
//
// At process exit the system has already ended the pool's threads: the task
// is only forgotten, and no pool function is called.
#include "platform/Platform.h"

#include <windows.h>

#include <atomic>
#include <vector>

namespace platform {

namespace {

std::atomic<bool> exiting{false};
std::atomic<bool> unloading{false};

// This module's handle, looked up by an address inside it with flags.
HMODULE thisModule(DWORD flags) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags, reinterpret_cast<LPCWSTR>(&unloading), &self);
    return self;
}

// One reference to each DLL named in this module's import table; a name the
// loader does not know as loaded (an API-set name it does not resolve) is
// skipped.
std::vector<HMODULE> referenceImports() {
    std::vector<HMODULE> held;
    HMODULE self = thisModule(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
    if (self == nullptr) return held;
    const auto* image = reinterpret_cast<const BYTE*>(self);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return held;
    for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        HMODULE module = nullptr;
        if (GetModuleHandleExA(0, reinterpret_cast<const char*>(image + entry->Name), &module)) held.push_back(module);
    }
    return held;
}

void release(std::vector<HMODULE>& held) {
    for (HMODULE module : held) FreeLibrary(module);
    held.clear();
}

}  // namespace

struct RepeatingTask::Impl {
    std::function<bool()> step;
    LARGE_INTEGER pause{};  // relative due time, 100 ns units (negative)
    PTP_TIMER timer = nullptr;
    SRWLOCK lock = SRWLOCK_INIT;  // guards stopping, executing and the re-arming of the timer
    bool stopping = false;
    bool executing = false;  // a run has passed its stop test and not yet ended
    std::atomic<DWORD> runningThread{0};
    std::vector<HMODULE> heldImports;  // referenced from start until a stop that waited

    void arm(LARGE_INTEGER& due) {
        FILETIME time;
        time.dwLowDateTime = due.LowPart;
        time.dwHighDateTime = static_cast<DWORD>(due.HighPart);
        SetThreadpoolTimer(timer, &time, 0, 0);
    }

    static VOID CALLBACK run(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER) {
        auto* self = static_cast<Impl*>(context);
        AcquireSRWLockExclusive(&self->lock);
        const bool stopped = self->stopping;
        self->executing = !stopped;
        ReleaseSRWLockExclusive(&self->lock);
        if (stopped) return;
        self->runningThread.store(GetCurrentThreadId());
        bool again = false;
        try {
            again = self->step();
        } catch (...) {
        }
        self->runningThread.store(0);
        AcquireSRWLockExclusive(&self->lock);
        self->executing = false;
        if (again && !self->stopping) self->arm(self->pause);
        ReleaseSRWLockExclusive(&self->lock);
    }
};

RepeatingTask::RepeatingTask() : impl(new Impl) {}

RepeatingTask::~RepeatingTask() {
    // Joined before destruction by its owner; at process exit it is forgotten.
    if (impl->timer != nullptr && !exiting.load()) join();
}

bool RepeatingTask::start(std::function<bool()> step, unsigned pauseMilliseconds) {
    if (impl->timer != nullptr) return false;
    impl->step = std::move(step);
    impl->pause.QuadPart = -static_cast<LONGLONG>(pauseMilliseconds) * 10000;
    impl->stopping = false;
    impl->timer = CreateThreadpoolTimer(&Impl::run, impl.get(), nullptr);
    if (impl->timer == nullptr) return false;
    impl->heldImports = referenceImports();
    LARGE_INTEGER now{};  // a due time of 0: the first run starts at once
    AcquireSRWLockExclusive(&impl->lock);
    impl->arm(now);
    ReleaseSRWLockExclusive(&impl->lock);
    return true;
}

bool RepeatingTask::joinable() const { return impl->timer != nullptr; }

bool RepeatingTask::isCurrentThread() const {
    return impl->timer != nullptr && impl->runningThread.load() == GetCurrentThreadId();
}

bool RepeatingTask::join() {
    if (impl->timer == nullptr) return true;
    AcquireSRWLockExclusive(&impl->lock);
    impl->stopping = true;
    SetThreadpoolTimer(impl->timer, nullptr, 0, 0);
    const bool executing = impl->executing;
    ReleaseSRWLockExclusive(&impl->lock);
    const bool waited = !(executing && unloading.load());
    if (waited) {
        WaitForThreadpoolTimerCallbacks(impl->timer, TRUE);
        if (!unloading.load()) release(impl->heldImports);
    } else {
        // Pinned: mapped until the process ends (inside DllMain, which holds the loader lock).
        thisModule(GET_MODULE_HANDLE_EX_FLAG_PIN);
    }
    // With a run still executing, the pool frees the timer once it has ended.
    CloseThreadpoolTimer(impl->timer);
    impl->timer = nullptr;
    return waited;
}

void RepeatingTask::detach() { impl->timer = nullptr; }

bool processIsExiting() { return exiting.load(); }

}  // namespace platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // reserved is non-null when the process is exiting: other threads are
    // already gone and must not be waited for by the destructors that follow.
    // Otherwise FreeLibrary is unloading the module, and the destructors run
    // under the loader lock. A module pinned at unload keeps its memory, so a
    // new load must clear the flag again.
    if (reason == DLL_PROCESS_DETACH) (reserved != nullptr ? platform::exiting : platform::unloading).store(true);
    if (reason == DLL_PROCESS_ATTACH) platform::unloading.store(false);
    return TRUE;
}
