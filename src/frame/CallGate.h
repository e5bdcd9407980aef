// The fence between C_Finalize and the calls running inside the module.
//
// Every entry point that needs an initialised module holds a pass through the
// gate for the whole of its work. C_Finalize closes the gate, so that calls
// starting from then on are refused, and waits until every call already
// inside has left before it releases the device-library instance and empties
// the tables. The gate counts calls and never serialises them: calls run side
// by side, and a call that re-enters the module from inside the device
// library is simply counted twice.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace zelmor {

class CallGate {
public:
    // One call's stay inside the module; leaves the gate when destroyed.
    class Pass {
    public:
        explicit Pass(CallGate& gate) noexcept : gate_(gate), admitted_(gate.enter()) {}
        ~Pass() {
            if (admitted_) gate_.leave();
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        bool admitted() const { return admitted_; }

    private:
        CallGate& gate_;
        const bool admitted_;
    };

    // Lets calls in (the module is ready for them). Closed until then.
    void open() noexcept;
    // Refuses every call from now on; the calls already inside go on.
    void close() noexcept;
    // Whether no admitted call is inside at the moment.
    bool empty() const noexcept { return (state_.load() & ~closedFlag) == 0; }
    // Waits until no admitted call is inside. Never call it from inside a
    // call (see callingThreadIsInside): it would wait for itself.
    void waitUntilEmpty();
    // Whether the calling thread is inside a call it was admitted to.
    static bool callingThreadIsInside() noexcept;

private:
    bool enter() noexcept;
    void leave() noexcept;
    // Takes back one count; wakes waitUntilEmpty when the gate is closed and
    // this was the last.
    void release() noexcept;

    // The number of calls inside, with closedFlag set while calls are refused.
    static constexpr std::size_t closedFlag = ~(~std::size_t{0} >> 1);
    std::atomic<std::size_t> state_{closedFlag};
    std::mutex emptyMutex_;
    std::condition_variable emptied_;
};

}  // namespace zelmor
