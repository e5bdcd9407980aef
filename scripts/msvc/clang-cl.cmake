# clang-cl, lld-link and llvm-rc in the place of cl.exe, link.exe and rc.exe,
# with the MSVC standard library headers of MSVC_STL_INCLUDE, the stand-ins of
# scripts/msvc/include and mingw-w64's Windows and C runtime headers. Only
# compiles: scripts/msvc-check.sh links with its own runtime stand-ins.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_MT llvm-mt-14)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

if(NOT DEFINED ENV{MSVC_STL_INCLUDE})
    message(FATAL_ERROR "MSVC_STL_INCLUDE must name the stl/inc folder of the MSVC standard library")
endif()
execute_process(COMMAND clang-14 -print-resource-dir OUTPUT_VARIABLE clang_resources OUTPUT_STRIP_TRAILING_WHITESPACE)
set(msvc_check_flags "/X -imsvc ${clang_resources}/include -imsvc ${CMAKE_CURRENT_LIST_DIR}/include")
string(APPEND msvc_check_flags " -imsvc $ENV{MSVC_STL_INCLUDE} -imsvc /usr/share/mingw-w64/include")
string(APPEND msvc_check_flags " -fms-compatibility-version=19.34 /FImsvc_prelude.h /D_UCRT /D_USE_STD_VECTOR_ALGORITHMS=0 /WX")
set(CMAKE_C_FLAGS_INIT "${msvc_check_flags}")
set(CMAKE_CXX_FLAGS_INIT "${msvc_check_flags}")
set(CMAKE_RC_FLAGS_INIT "/I /usr/share/mingw-w64/include")
