// Stress run: worker threads feed the API driver (tests/fuzz/ApiDriver.h)
// random bytes against the module. scripts/stress.sh runs it on the virtual
// device library (device PIN 12345678) while it plugs and unplugs the device,
// and ends it if it hangs. Exits 1 on a result an entry point may not return
// or a failing C_Finalize.
//
//   zelmor_stress SECONDS THREADS
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "ApiDriver.h"

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR);

namespace {

std::atomic<bool> stopping{false};
std::atomic<long> calls{0}, unexpected{0};

void work(CK_FUNCTION_LIST_PTR f, unsigned seed) {
    std::mt19937 random(seed);
    fuzzing::ApiDriver driver{f, true};
    std::vector<uint8_t> bytes(4096);
    while (!stopping) {
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
        fuzzing::FuzzInput in(bytes.data(), bytes.size());
        for (; !in.empty() && !stopping; ++calls) unexpected += driver.step(in) ? 0 : 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CK_FUNCTION_LIST_PTR f = nullptr;
    if (argc != 3 || C_GetFunctionList(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK) {
        std::fprintf(stderr, "usage: %s SECONDS THREADS (and a module that initialises)\n", argv[0]);
        return 2;
    }
    std::vector<std::thread> workers;
    for (int i = 0; i < std::atoi(argv[2]); ++i) workers.emplace_back(work, f, std::random_device{}());
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[1])));
    stopping = true;
    for (std::thread& worker : workers) worker.join();
    const CK_RV finalized = f->C_Finalize(nullptr);
    std::printf("calls: %ld, unexpected: %ld, C_Finalize: 0x%08lX\n", calls.load(), unexpected.load(), finalized);
    return unexpected == 0 && finalized == CKR_OK ? 0 : 1;
}
