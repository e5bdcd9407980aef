// DLL entry of the clang-cl check: runs the C++ initializers, then DllMain;
// at unload DllMain first, then the functions registered with atexit.
#include <windows.h>

#include <corecrt_startup.h>

extern "C" {
extern _PVFV __xc_a[];
extern _PVFV __xc_z[];
__declspec(dllimport) void __cdecl _initterm(_PVFV* first, _PVFV* last);

static _onexit_table_t exitTable;

int __cdecl atexit(_PVFV function) {
    return _register_onexit_function(&exitTable, reinterpret_cast<_onexit_t>(function));
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
BOOL WINAPI noDllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#pragma comment(linker, "/alternatename:DllMain=noDllMain")

BOOL WINAPI _DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        _initialize_onexit_table(&exitTable);
        _initterm(__xc_a, __xc_z);
    }
    BOOL result = DllMain(instance, reason, reserved);
    if (reason == DLL_PROCESS_DETACH) _execute_onexit_table(&exitTable);
    return result;
}
}
