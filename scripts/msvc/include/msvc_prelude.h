// Included first in every translation unit of the clang-cl check (/FI): makes
// mingw-w64's headers, written for GCC, serve as the Windows SDK and UCRT
// headers under clang-cl.
#pragma once
// clang's intrin.h declares _setjmp, which mingw-w64 would redefine.
#define USE_NO_MINGW_SETJMP_TWO_ARGS
#include <_mingw.h>
// _mingw.h erases __attribute__ for compilers other than GCC; clang has it.
#undef __attribute__
// Declspecs that _mingw.h puts after a declarator, where clang rejects them.
#undef __MINGW_NOTHROW
#define __MINGW_NOTHROW
#undef __MINGW_ATTRIB_NORETURN
#define __MINGW_ATTRIB_NORETURN __attribute__((__noreturn__))
#undef __MINGW_ATTRIB_DEPRECATED
#define __MINGW_ATTRIB_DEPRECATED
