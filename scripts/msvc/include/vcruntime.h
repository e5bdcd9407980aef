// Stand-in for MSVC's vcruntime.h: the macros and types the open-source MSVC
// standard library needs, over mingw-w64's CRT headers.
#pragma once
#include <corecrt.h>
#include <stddef.h>
#include <sal.h>
#include <wchar.h>

#define _VCRUNTIME_H
#define _VCRTIMP __declspec(dllimport)
#define _CRT_BEGIN_C_HEADER extern "C" {
#define _CRT_END_C_HEADER }
#define _HAS_EXCEPTIONS 1
#define _CRT_STRINGIZE_(x) #x
#define _CRT_STRINGIZE(x) _CRT_STRINGIZE_(x)
#define _CRT_WIDE_(s) L##s
#define _CRT_WIDE(s) _CRT_WIDE_(s)
#define _CRT_CONCATENATE_(a, b) a##b
#define _CRT_CONCATENATE(a, b) _CRT_CONCATENATE_(a, b)
#define _CRT_UNPARENTHESIZE_(...) __VA_ARGS__
#define _CRT_UNPARENTHESIZE(...) _CRT_UNPARENTHESIZE_ __VA_ARGS__
#define _VCRT_NOALIAS __declspec(noalias)
#define _VCRT_RESTRICT __declspec(restrict)
#define _VCRT_ALLOCATOR __declspec(allocator)
#define _CRT_HYBRIDPATCHABLE
#define _CRT_GUARDOVERFLOW
#define _CRT_DECLARE_NONSTDC_NAMES 1
#define _UNALIGNED __unaligned
#define __CLRCALL_PURE_OR_CDECL __cdecl
#define __CLRCALL_OR_CDECL __cdecl
#define __CLR_OR_THIS_CALL
#define _VCRT_EXPORT_STD
#define _CRT_ALIGN(x) __declspec(align(x))
#define _HAS_NODISCARD 1
#define _NODISCARD [[nodiscard]]
#ifdef _MSVC_LANG
#define _STL_LANG _MSVC_LANG
#else
#define _STL_LANG __cplusplus
#endif
#define _HAS_CXX17 (_STL_LANG > 201402L)
#define _HAS_CXX20 (_STL_LANG > 201703L)
#define _HAS_CXX23 (_STL_LANG > 202002L)
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
