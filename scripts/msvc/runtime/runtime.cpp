// What a Visual C++ program normally takes from Microsoft's static runtime
// libraries, for the clang-cl check: the initializer tables, thread-local
// storage, thread-safe statics, /GS cookie, operator new/delete, the type_info
// vtable and snprintf. Everything else comes from the runtime DLLs.
#include <windows.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

extern "C" {
typedef void(__cdecl* _PVFV)();

// C++ dynamic initializers: the compiler puts them between these two sections.
#pragma section(".CRT$XCA", long, read)
#pragma section(".CRT$XCZ", long, read)
__declspec(allocate(".CRT$XCA")) _PVFV __xc_a[] = {nullptr};
__declspec(allocate(".CRT$XCZ")) _PVFV __xc_z[] = {nullptr};

// Thread-local storage directory (the loader reads _tls_used).
ULONG _tls_index = 0;
#pragma section(".tls", read, write)
#pragma section(".tls$ZZZ", read, write)
__declspec(allocate(".tls")) char _tls_start = 0;
__declspec(allocate(".tls$ZZZ")) char _tls_end = 0;
#pragma section(".CRT$XLA", long, read)
#pragma section(".CRT$XLZ", long, read)
__declspec(allocate(".CRT$XLA")) PIMAGE_TLS_CALLBACK __xl_a = nullptr;
__declspec(allocate(".CRT$XLZ")) PIMAGE_TLS_CALLBACK __xl_z = nullptr;
extern const IMAGE_TLS_DIRECTORY64 _tls_used = {reinterpret_cast<ULONGLONG>(&_tls_start),
                                                reinterpret_cast<ULONGLONG>(&_tls_end),
                                                reinterpret_cast<ULONGLONG>(&_tls_index),
                                                reinterpret_cast<ULONGLONG>(&__xl_a + 1), 0, 0};

int _fltused = 0x9875;

// Buffer-overrun check of /GS.
UINT_PTR __security_cookie = 0x00002B992DDFA232;
void __cdecl __security_check_cookie(UINT_PTR cookie) {
    if (cookie != __security_cookie) __fastfail(2);
}

// Thread-safe initialization of function-local statics.
int _Init_global_epoch = INT_MIN;
thread_local int _Init_thread_epoch = INT_MIN;
static SRWLOCK initLock = SRWLOCK_INIT;
static CONDITION_VARIABLE initDone = CONDITION_VARIABLE_INIT;
constexpr int beingInitialized = -1;

void __cdecl _Init_thread_header(int* once) {
    AcquireSRWLockExclusive(&initLock);
    if (*once == 0) {
        *once = beingInitialized;
    } else {
        while (*once == beingInitialized) {
            SleepConditionVariableSRW(&initDone, &initLock, INFINITE, 0);
            if (*once == 0) {
                *once = beingInitialized;
                ReleaseSRWLockExclusive(&initLock);
                return;
            }
        }
        _Init_thread_epoch = _Init_global_epoch;
    }
    ReleaseSRWLockExclusive(&initLock);
}

void __cdecl _Init_thread_abort(int* once) {
    AcquireSRWLockExclusive(&initLock);
    *once = 0;
    ReleaseSRWLockExclusive(&initLock);
    WakeAllConditionVariable(&initDone);
}

void __cdecl _Init_thread_footer(int* once) {
    AcquireSRWLockExclusive(&initLock);
    ++_Init_global_epoch;
    *once = _Init_global_epoch;
    _Init_thread_epoch = _Init_global_epoch;
    ReleaseSRWLockExclusive(&initLock);
    WakeAllConditionVariable(&initDone);
}

int __cdecl snprintf(char* buffer, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = __stdio_common_vsprintf(_CRT_INTERNAL_PRINTF_STANDARD_SNPRINTF_BEHAVIOR, buffer, count, format,
                                         nullptr, args);
    va_end(args);
    return result < 0 ? -1 : result;
}

// The vtable of type_info, referenced by every RTTI descriptor; type_info
// objects are never destroyed, so its one slot is never called.
static void __cdecl typeInfoDestructor() { __fastfail(7); }
extern const _PVFV typeInfoVtable[] __asm__("??_7type_info@@6B@");
const _PVFV typeInfoVtable[] = {typeInfoDestructor};
}

void* __cdecl operator new(size_t size) {
    if (void* block = std::malloc(size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
void __cdecl operator delete(void* block) noexcept { std::free(block); }
void __cdecl operator delete(void* block, size_t) noexcept { std::free(block); }

namespace std {
// Locale facets register here to be freed at exit; they live as long as the process.
class _Facet_base;
void __cdecl _Facet_Register(_Facet_base*) {}
}  // namespace std
