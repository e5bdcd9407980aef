#include "WriteFaults.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace zelmor::sim::writefaults {

namespace {
std::atomic<long> writesUntilFault{0};
std::once_flag environmentRead;

void readEnvironmentOnce() {
    std::call_once(environmentRead, [] {
        const char* value = std::getenv("ZELMOR_SIM_FAIL_WRITE");
        if (value != nullptr) writesUntilFault = std::strtol(value, nullptr, 10);
    });
}
}  // namespace

void failWriteNumber(unsigned n) {
    readEnvironmentOnce();
    writesUntilFault = static_cast<long>(n);
}

bool consumeWriteFault() {
    readEnvironmentOnce();
    long current = writesUntilFault.load();
    while (current > 0) {
        if (writesUntilFault.compare_exchange_weak(current, current - 1)) return current == 1;
    }
    return false;
}

}  // namespace zelmor::sim::writefaults
