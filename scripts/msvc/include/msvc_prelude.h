// Included first in every translation unit of the clang-cl check (/FI): makes
// mingw-w64's headers, written for GCC, usable as the Windows SDK and UCRT
// headers under clang-cl (declspecs they place after a declarator are invalid).
#pragma once
#define USE_NO_MINGW_SETJMP_TWO_ARGS
#include <_mingw.h>
#undef __attribute__
#undef __MINGW_NOTHROW
#define __MINGW_NOTHROW
#undef __MINGW_ATTRIB_NORETURN
#define __MINGW_ATTRIB_NORETURN __attribute__((__noreturn__))
#undef __MINGW_ATTRIB_MALLOC
#define __MINGW_ATTRIB_MALLOC
#undef __MINGW_ATTRIB_DEPRECATED
#define __MINGW_ATTRIB_DEPRECATED
#undef __MINGW_ATTRIB_DEPRECATED_MSG
#define __MINGW_ATTRIB_DEPRECATED_MSG(x)
