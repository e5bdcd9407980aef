// Program entry of the clang-cl check: runs the C++ initializers, then main.
#include <corecrt_startup.h>
#include <cstdlib>

int main();

extern "C" {
extern _PVFV __xc_a[];
extern _PVFV __xc_z[];
__declspec(dllimport) void __cdecl _initterm(_PVFV* first, _PVFV* last);

int __cdecl atexit(_PVFV function) { return _crt_atexit(function); }

void __cdecl mainCRTStartup() {
    _initterm(__xc_a, __xc_z);
    std::exit(main());
}
}
