// Repeating task on POSIX: a std::thread that runs the step, then pauses.
#include "platform/Platform.h"

#include <chrono>
#include <system_error>
#include <thread>

namespace platform {

struct RepeatingTask::Impl {
    std::thread thread;
};

RepeatingTask::RepeatingTask() : impl(new Impl) {}

RepeatingTask::~RepeatingTask() {
    // A thread still running at destruction is left to finish on its own
    // rather than terminating the process.
    if (impl->thread.joinable()) impl->thread.detach();
}

bool RepeatingTask::start(std::function<bool()> step, unsigned pauseMilliseconds) {
    try {
        impl->thread = std::thread([step = std::move(step), pauseMilliseconds] {
            while (step()) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMilliseconds));
        });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool RepeatingTask::joinable() const { return impl->thread.joinable(); }

bool RepeatingTask::isCurrentThread() const { return impl->thread.get_id() == std::this_thread::get_id(); }

void RepeatingTask::join() {
    if (impl->thread.joinable()) impl->thread.join();
}

void RepeatingTask::detach() {
    if (impl->thread.joinable()) impl->thread.detach();
}

}  // namespace platform
