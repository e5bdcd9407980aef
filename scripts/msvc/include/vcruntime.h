// Stand-in for MSVC's vcruntime.h: the macros and types the open-source MSVC
// standard library needs, over mingw-w64's CRT headers.
#pragma once
#include <corecrt.h>
#include <sal.h>
#include <wchar.h>

#define _VCRTIMP __declspec(dllimport)
#define _HAS_EXCEPTIONS 1
#define _CRT_GUARDOVERFLOW
#define __CLRCALL_PURE_OR_CDECL __cdecl
#define __CLRCALL_OR_CDECL __cdecl
#define __CLR_OR_THIS_CALL
#define _NODISCARD [[nodiscard]]
#define _HAS_CXX17 (_MSVC_LANG > 201402L)
extern "C" __declspec(dllimport) __declspec(noreturn) void __cdecl _invalid_parameter_noinfo_noreturn();
#define _CRT_SECURE_INVALID_PARAMETER(expr) ::_invalid_parameter_noinfo_noreturn()
// Functions of msvcp140_1.dll / msvcp140_2.dll.
#define _CRT_SATELLITE_1 __declspec(dllimport)
#define _CRT_SATELLITE_2 __declspec(dllimport)
#define _CRT_SATELLITE_CODECVT_IDS_NOIMPORT
#define _ACRTIMP __declspec(dllimport)
#ifndef _Deref_post_opt_valid_
#define _Deref_post_opt_valid_
#endif
