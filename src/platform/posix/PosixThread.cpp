// Repeating task on POSIX: a std::thread that runs the step, then pauses.
// The pause is a timed wait on the task's stop signal, so joining ends it at
// once instead of waiting out the rest of it.
#include "platform/Platform.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

namespace {

// Shared by the task and its thread: a thread left running when the task is
// destroyed still has it.
struct StopSignal {
    std::mutex mutex;
    std::condition_variable wake;
    bool requested = false;

    // Waits up to pause; true when a stop was requested.
    bool waitFor(std::chrono::milliseconds pause) {
        std::unique_lock<std::mutex> lock(mutex);
        return wake.wait_for(lock, pause, [this] { return requested; });
    }
    void request() {
        {
            std::lock_guard<std::mutex> guard(mutex);
            requested = true;
        }
        wake.notify_all();
    }
};

}  // namespace

struct RepeatingTask::Impl {
    std::thread thread;
    std::shared_ptr<StopSignal> stop;
};

RepeatingTask::RepeatingTask() : impl(new Impl) {}

RepeatingTask::~RepeatingTask() {
    // A thread still running at destruction is left to finish on its own
    // rather than terminating the process.
    if (impl->thread.joinable()) impl->thread.detach();
}

bool RepeatingTask::start(std::function<bool()> step, unsigned pauseMilliseconds) {
    try {
        auto stop = std::make_shared<StopSignal>();
        impl->thread = std::thread([step = std::move(step), stop, pause = std::chrono::milliseconds(pauseMilliseconds)] {
            while (step() && !stop->waitFor(pause)) {
            }
        });
        impl->stop = std::move(stop);
        return true;
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool RepeatingTask::joinable() const { return impl->thread.joinable(); }

bool RepeatingTask::isCurrentThread() const { return impl->thread.get_id() == std::this_thread::get_id(); }

bool RepeatingTask::join() {
    if (!impl->thread.joinable()) return true;
    impl->stop->request();
    impl->thread.join();
    return true;
}

void RepeatingTask::detach() {
    if (impl->thread.joinable()) impl->thread.detach();
}

}  // namespace platform
