// Joinable thread on POSIX: a std::thread.
#include "platform/Platform.h"

#include <system_error>
#include <thread>

namespace platform {

struct Thread::Impl {
    std::thread thread;
};

Thread::Thread() : impl(new Impl) {}

Thread::~Thread() {
    // A thread still running at destruction is left to finish on its own
    // rather than terminating the process.
    if (impl->thread.joinable()) impl->thread.detach();
}

bool Thread::start(std::function<void()> body) {
    try {
        impl->thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool Thread::joinable() const { return impl->thread.joinable(); }

bool Thread::isCurrentThread() const { return impl->thread.get_id() == std::this_thread::get_id(); }

void Thread::join() {
    if (impl->thread.joinable()) impl->thread.join();
}

void Thread::detach() {
    if (impl->thread.joinable()) impl->thread.detach();
}

}  // namespace platform
