#include "frame/CallGate.h"

namespace zelmor {

namespace {
// How many admitted calls the current thread is inside (more than one only
// when a call re-enters the module).
thread_local unsigned callsOnThisThread = 0;
}  // namespace

void CallGate::open() noexcept { state_.fetch_and(~closedFlag); }

void CallGate::close() noexcept { state_.fetch_or(closedFlag); }

bool CallGate::callingThreadIsInside() noexcept { return callsOnThisThread > 0; }

bool CallGate::enter() noexcept {
    // Counted before the flag is tested, so that a closer that sees no call
    // inside can be sure none is about to start its work.
    if ((state_.fetch_add(1) & closedFlag) != 0) {
        release();
        return false;
    }
    ++callsOnThisThread;
    return true;
}

void CallGate::leave() noexcept {
    --callsOnThisThread;
    release();
}

void CallGate::release() noexcept {
    if (state_.fetch_sub(1) == (closedFlag | 1)) {
        // The waiter tests the count under emptyMutex: taking it here means the
        // wake-up cannot fall between its test and its wait.
        std::lock_guard<std::mutex> guard(emptyMutex_);
        emptied_.notify_all();
    }
}

void CallGate::waitUntilEmpty() {
    std::unique_lock<std::mutex> lock(emptyMutex_);
    emptied_.wait(lock, [this] { return empty(); });
}

}  // namespace zelmor
