// Runs one unload scenario in its own process; exit status 0 means the
// process got through it without crash, hang or abort.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "FakeDeviceLibrary.h"
#include "ModuleLoader.h"

using testing_support::LoadedModule;

namespace {

// Kept loaded until the process ends.
LoadedModule* keptLoaded = nullptr;

void pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

int fail(const char* what) {
    std::fprintf(stderr, "unload_probe: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return fail("usage: unload_probe MODE");
    fakeLibrary().addDevice("ZLM0000001");
    const char* mode = argv[1];

    if (std::strcmp(mode, "unload-without-finalize") == 0) {
        // The monitor is running when the module goes; the process must go on.
        LoadedModule module(testing_support::modulePath());
        if (!module.loaded()) return fail("module not loaded");
        if (module.functions()->C_Initialize(nullptr) != CKR_OK) return fail("C_Initialize");
        pause(300);
        module.unload();
        pause(2500);
        return 0;
    }
    if (std::strcmp(mode, "exit-without-finalize") == 0) {
        keptLoaded = new LoadedModule(testing_support::modulePath());
        if (!keptLoaded->loaded()) return fail("module not loaded");
        if (keptLoaded->functions()->C_Initialize(nullptr) != CKR_OK) return fail("C_Initialize");
        pause(300);
        return 0;  // the module is still loaded and initialised
    }
    if (std::strcmp(mode, "unload-after-finalize") == 0) {
        for (int round = 0; round < 2; ++round) {
            LoadedModule module(testing_support::modulePath());
            if (!module.loaded()) return fail("module not loaded");
            if (module.functions()->C_Initialize(nullptr) != CKR_OK) return fail("C_Initialize");
            if (module.functions()->C_Finalize(nullptr) != CKR_OK) return fail("C_Finalize");
        }
        return 0;
    }
    return fail("unknown mode");
}
