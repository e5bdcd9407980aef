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
// the timer holds no reference to it. At unload the module's destructors
// (inside DllMain) join the task: they disarm the timer, drop a run that is
// queued but not started, and wait only for a run already executing. Such a
// run never needs the loader lock (it polls the device library, walks the
// session table and logs), so the wait ends. SetThreadpoolCallbackLibrary is
// not used: under Wine it keeps a reference to the module for the timer's
// whole life, which is the very pinning this avoids.
//
// At process exit the system has already ended the pool's threads: the task
// is only forgotten, and no pool function is called.
#include "platform/Platform.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

std::atomic<bool> exiting{false};

}  // namespace

struct RepeatingTask::Impl {
    std::function<bool()> step;
    LARGE_INTEGER pause{};  // relative due time, 100 ns units (negative)
    PTP_TIMER timer = nullptr;
    SRWLOCK lock = SRWLOCK_INIT;  // guards stopping and the re-arming of the timer
    bool stopping = false;
    std::atomic<DWORD> runningThread{0};

    void arm(LARGE_INTEGER& due) {
        FILETIME time;
        time.dwLowDateTime = due.LowPart;
        time.dwHighDateTime = static_cast<DWORD>(due.HighPart);
        SetThreadpoolTimer(timer, &time, 0, 0);
    }

    static VOID CALLBACK run(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER) {
        auto* self = static_cast<Impl*>(context);
        self->runningThread.store(GetCurrentThreadId());
        bool again = false;
        try {
            again = self->step();
        } catch (...) {
        }
        self->runningThread.store(0);
        AcquireSRWLockExclusive(&self->lock);
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

void RepeatingTask::join() {
    if (impl->timer == nullptr) return;
    AcquireSRWLockExclusive(&impl->lock);
    impl->stopping = true;
    SetThreadpoolTimer(impl->timer, nullptr, 0, 0);
    ReleaseSRWLockExclusive(&impl->lock);
    WaitForThreadpoolTimerCallbacks(impl->timer, TRUE);
    CloseThreadpoolTimer(impl->timer);
    impl->timer = nullptr;
}

void RepeatingTask::detach() { impl->timer = nullptr; }

bool processIsExiting() { return exiting.load(); }

}  // namespace platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // reserved is non-null when the process is exiting: other threads are
    // already gone and must not be waited for by the destructors that follow.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) platform::exiting.store(true);
    return TRUE;
}
