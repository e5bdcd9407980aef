// Stand-in for MSVC's eh.h: the terminate handlers of the C runtime (extern
// "C", as ucrtbase.dll exports them).
#pragma once
#include <vcruntime.h>

extern "C" {
typedef void(__cdecl* terminate_handler)();
__declspec(dllimport) __declspec(noreturn) void __cdecl terminate() noexcept;
__declspec(dllimport) terminate_handler __cdecl set_terminate(terminate_handler handler) noexcept;
__declspec(dllimport) terminate_handler __cdecl _get_terminate();
}
