// Runs one unload scenario in its own process; exit status 0 means the
// process got through it without crash, hang or abort.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "FakeDeviceLibrary.h"
#include "ModuleLoader.h"

namespace {

// Reachable to the end: exit-without-finalize leaves it loaded and initialised.
testing_support::LoadedModule* module = nullptr;

int fail(const char* what) {
    std::fprintf(stderr, "unload_probe: %s\n", what);
    return 1;
}

#if defined(_WIN32)
// Device-list calls seen by the hook below. The fake records a call only once
// its hook has returned, so its own count lags behind a call in progress.
std::atomic<int> deviceListCalls{0};

// advapi32 is held by the module alone: neither this program nor the fake
// imports it.
bool mapped(const char* name) { return GetModuleHandleA(name) != nullptr; }

// FreeLibrary without C_Finalize while a monitor poll is inside the device
// library, whose list call then loads a DLL (it needs the loader lock that
// the unload holds): the unload must return, the poll must end in a module
// that is still mapped, with the DLLs it imports, and must not be followed by
// another one.
int unloadDuringDeviceList() {
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE unloadStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    fakeLibrary().edit([&](FakeState& state) {
        state.duringCall["zelmor_getConnectedDeviceList"] = [entered, unloadStarted, finished] {
            ++deviceListCalls;
            SetEvent(entered);
            // FreeLibrary takes the loader lock at once; the pause lets it.
            WaitForSingleObject(unloadStarted, 5000);
            Sleep(300);
            if (HMODULE loaded = LoadLibraryA("version.dll")) FreeLibrary(loaded);
            SetEvent(finished);
        };
    });
    module = new testing_support::LoadedModule(testing_support::modulePath());
    if (!module->loaded()) return fail("module not loaded");
    if (module->functions()->C_Initialize(nullptr) != CKR_OK) return fail("C_Initialize");
    if (WaitForSingleObject(entered, 5000) != WAIT_OBJECT_0) return fail("no device-list call");
    HANDLE unloader = CreateThread(
        nullptr, 0,
        [](LPVOID started) -> DWORD {
            SetEvent(static_cast<HANDLE>(started));
            delete module;
            return 0;
        },
        unloadStarted, 0, nullptr);
    if (WaitForSingleObject(unloader, 10000) != WAIT_OBJECT_0) {
        fail("FreeLibrary waits for the device-list call, which waits for the loader lock");
        TerminateProcess(GetCurrentProcess(), 1);
    }
    if (WaitForSingleObject(finished, 5000) != WAIT_OBJECT_0) return fail("device-list call never finished");
    if (!mapped("ZelmorPKCS11Driver.dll")) return fail("unmapped under its running poll");
    if (!mapped("advapi32.dll")) return fail("a DLL it imports unmapped under its running poll");
    const int polls = deviceListCalls.load();
    // The poll goes on to log (reading the level through advapi32): a DLL gone
    // under it ends the process here.
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    if (deviceListCalls.load() != polls) return fail("still polled after unload");
    return 0;
}
#endif

}  // namespace

// Modes: unload-without-finalize (the monitor is running when the module
// goes, and must stop), exit-without-finalize (the module is still loaded
// and initialised at process exit), unload-after-finalize (twice), and on
// Windows reload-without-finalize (twenty rounds; FreeLibrary without
// C_Finalize unmaps the module, and the next load starts from nothing) and
// unload-during-device-list.
int main(int argc, char** argv) {
    const std::string mode = argc == 2 ? argv[1] : "";
    fakeLibrary().addDevice("ZLM0000001");
#if defined(_WIN32)
    if (mode == "unload-during-device-list") return unloadDuringDeviceList();
#endif
    const int rounds = mode == "reload-without-finalize" ? 20 : mode == "unload-after-finalize" ? 2 : 1;
    if (rounds == 1 && mode != "unload-without-finalize" && mode != "exit-without-finalize") return fail("mode?");
    for (int round = 0; round < rounds; ++round) {
        module = new testing_support::LoadedModule(testing_support::modulePath());
        if (!module->loaded()) return fail("module not loaded");
        CK_FUNCTION_LIST_PTR p11 = module->functions();
        CK_INFO info;
        if (p11->C_GetInfo(&info) != CKR_CRYPTOKI_NOT_INITIALIZED) return fail("initialised at load");
        if (p11->C_Initialize(nullptr) != CKR_OK) return fail("C_Initialize");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (mode == "exit-without-finalize") return 0;
        if (mode == "unload-after-finalize" && p11->C_Finalize(nullptr) != CKR_OK) return fail("C_Finalize");
        delete module;
#if defined(_WIN32)
        if (mapped("ZelmorPKCS11Driver.dll")) return fail("module still mapped");
        if (mode == "unload-after-finalize" && mapped("advapi32.dll")) return fail("a DLL it imports still held");
#endif
        const std::size_t polls = fakeLibrary().callCount("zelmor_getConnectedDeviceList");
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 10 == 9 || rounds == 1 ? 1300 : 0));
        if (fakeLibrary().callCount("zelmor_getConnectedDeviceList") != polls) return fail("still polled after unload");
    }
    return 0;
}
