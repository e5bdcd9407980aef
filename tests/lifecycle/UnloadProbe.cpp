// Runs one unload scenario in its own process; exit status 0 means the
// process got through it without crash, hang or abort.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "FakeDeviceLibrary.h"
#include "ModuleLoader.h"

using testing_support::LoadedModule;

namespace {

void pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

int fail(const char* what) {
    std::fprintf(stderr, "unload_probe: %s\n", what);
    return 1;
}

// reload-without-finalize: FreeLibrary without C_Finalize unmaps the module
// and stops its monitor; the next load starts from nothing: no session of
// the last load, no PIN cached. Leaves a logged-in session open.
int useAndCheckFresh(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE& previous) {
    CK_SESSION_INFO info;
    if (previous != CK_INVALID_HANDLE && p11->C_GetSessionInfo(previous, &info) == CKR_OK) {
        return fail("session of the unloaded module still open");
    }
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    if (p11->C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK || count != 1) return fail("C_GetSlotList");
    if (p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &previous) != CKR_OK) {
        return fail("C_OpenSession");
    }
    // A cached PIN would put the new session in a user state.
    if (p11->C_GetSessionInfo(previous, &info) != CKR_OK || info.state != CKS_RO_PUBLIC_SESSION) {
        return fail("new session not public: PIN still cached");
    }
    CK_UTF8CHAR pin[] = "12345678";
    return p11->C_Login(previous, CKU_USER, pin, 8) == CKR_OK ? 0 : fail("C_Login");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 2 ? argv[1] : "";
    const int rounds = mode == "reload-without-finalize" ? 20 : mode == "unload-after-finalize" ? 2 : 1;
    if (mode != "unload-without-finalize" && mode != "exit-without-finalize" && rounds == 1) {
        return fail("usage: unload_probe unload-without-finalize|exit-without-finalize|unload-after-finalize"
                    "|reload-without-finalize (Windows)");
    }
    fakeLibrary().addDevice("ZLM0000001");
    CK_SESSION_HANDLE previous = CK_INVALID_HANDLE;
    for (int round = 0; round < rounds; ++round) {
        // exit-without-finalize keeps it loaded and initialised until the process ends.
        auto* module = new LoadedModule(testing_support::modulePath());
        if (!module->loaded()) return fail("module not loaded");
        CK_FUNCTION_LIST_PTR p11 = module->functions();
        CK_INFO info;
        if (p11->C_GetInfo(&info) != CKR_CRYPTOKI_NOT_INITIALIZED) return fail("initialised after load");
        if (p11->C_Initialize(nullptr) != CKR_OK) return fail("C_Initialize");
        if (mode == "exit-without-finalize") return pause(300), 0;
        if (mode == "unload-after-finalize" && p11->C_Finalize(nullptr) != CKR_OK) return fail("C_Finalize");
        if (mode == "unload-without-finalize") pause(300);  // the monitor is running when the module goes
        if (mode == "reload-without-finalize" && useAndCheckFresh(p11, previous) != 0) return 1;
        delete module;
#if defined(_WIN32)
        if (mode == "reload-without-finalize" && GetModuleHandleA("ZelmorPKCS11Driver.dll") != nullptr) {
            return fail("module still mapped");
        }
#endif
        if (mode == "unload-without-finalize" || (mode == "reload-without-finalize" && round % 10 == 9)) {
            const std::size_t polls = fakeLibrary().callCount("zelmor_getConnectedDeviceList");
            pause(1300);  // longer than the monitor's pause
            if (fakeLibrary().callCount("zelmor_getConnectedDeviceList") != polls) {
                return fail("device library still polled after unload");
            }
        }
    }
    return 0;
}
