// Joinable thread on Windows, and the module's DllMain.
//
// Unloading: DllMain must not join a thread (the ending thread needs the
// loader lock that DllMain holds), and no thread may still run module code
// once the module is unmapped. So each thread started here takes its own
// reference to the module and leaves through FreeLibraryAndExitThread: the
// module cannot be unmapped while the thread runs, and the thread's last
// instructions run in the system, not in the module. C_Finalize joins the
// thread normally. At process exit the system has already ended the thread,
// so the detach notification only forgets it.
#include "platform/Platform.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

std::atomic<bool> exiting{false};

struct StartBlock {
    std::function<void()> body;
    HMODULE module;  // the thread's own reference to this module
};

DWORD WINAPI threadEntry(LPVOID parameter) {
    HMODULE module = nullptr;
    {
        std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(parameter));
        module = block->module;
        try {
            block->body();
        } catch (...) {
        }
    }
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

struct Thread::Impl {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

Thread::Thread() : impl(new Impl) {}

Thread::~Thread() { detach(); }

bool Thread::start(std::function<void()> body) {
    if (impl->handle != nullptr) return false;
    // Pin the module before the thread exists so that an unload racing with
    // the start cannot unmap the code the thread is about to run.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&threadEntry),
                            &module)) {
        return false;
    }
    auto* block = new StartBlock{std::move(body), module};
    HANDLE handle = CreateThread(nullptr, 0, threadEntry, block, 0, &impl->id);
    if (handle == nullptr) {
        delete block;
        FreeLibrary(module);
        return false;
    }
    impl->handle = handle;
    return true;
}

bool Thread::joinable() const { return impl->handle != nullptr; }

bool Thread::isCurrentThread() const { return impl->handle != nullptr && impl->id == GetCurrentThreadId(); }

void Thread::join() {
    if (impl->handle == nullptr) return;
    WaitForSingleObject(impl->handle, INFINITE);
    detach();
}

void Thread::detach() {
    if (impl->handle != nullptr) CloseHandle(impl->handle);
    impl->handle = nullptr;
    impl->id = 0;
}

bool processIsExiting() { return exiting.load(); }

}  // namespace platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // reserved is non-null when the process is exiting: other threads are
    // already gone and must not be waited for by the destructors that follow.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) platform::exiting.store(true);
    return TRUE;
}
