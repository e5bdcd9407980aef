// Runs one unload scenario in its own process; exit status 0 means the
// process got through it without crash, hang or abort.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

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
#if defined(_WIN32)
    if (std::strcmp(mode, "reload-without-finalize") == 0) {
        // FreeLibrary without C_Finalize unmaps the module and stops its
        // monitor; the next load starts from nothing: not initialised, no
        // session, no PIN cached.
        CK_SESSION_HANDLE previous = CK_INVALID_HANDLE;
        for (int round = 0; round < 20; ++round) {
            LoadedModule module(testing_support::modulePath());
            if (!module.loaded()) return fail("module not loaded");
            CK_FUNCTION_LIST_PTR p11 = module.functions();
            CK_INFO info;
            if (p11->C_GetInfo(&info) != CKR_CRYPTOKI_NOT_INITIALIZED) return fail("initialised after reload");
            if (p11->C_Initialize(nullptr) != CKR_OK) return fail("C_Initialize");
            CK_SESSION_INFO sessionInfo;
            if (previous != CK_INVALID_HANDLE && p11->C_GetSessionInfo(previous, &sessionInfo) == CKR_OK) {
                return fail("session of the unloaded module still open");
            }
            CK_SLOT_ID slot = 0;
            CK_ULONG count = 1;
            if (p11->C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK || count != 1) return fail("C_GetSlotList");
            CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
            if (p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) {
                return fail("C_OpenSession");
            }
            // A cached PIN would put the new session in a user state.
            if (p11->C_GetSessionInfo(session, &sessionInfo) != CKR_OK || sessionInfo.state != CKS_RO_PUBLIC_SESSION) {
                return fail("new session not public: PIN still cached");
            }
            CK_UTF8CHAR pin[] = "12345678";
            if (p11->C_Login(session, CKU_USER, pin, 8) != CKR_OK) return fail("C_Login");
            previous = session;

            module.unload();
            if (GetModuleHandleA("ZelmorPKCS11Driver.dll") != nullptr) return fail("module still mapped");
            if (round % 10 == 0 || round == 19) {
                std::size_t polls = fakeLibrary().callCount("zelmor_getConnectedDeviceList");
                pause(1300);  // longer than the monitor's pause
                if (fakeLibrary().callCount("zelmor_getConnectedDeviceList") != polls) {
                    return fail("device library still polled after unload");
                }
            }
        }
        return 0;
    }
#endif
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
