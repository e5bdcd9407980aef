#!/usr/bin/env bash
# Checks the MSVC build of the module on this machine, with clang-cl standing
# in for cl.exe and the open-source MSVC standard library headers:
#  - the MSVC configuration (preset clang-cl-check) carries the MSVC flags and
#    no GCC-only flag;
#  - every Windows translation unit and the version resource compile with
#    /W4 /WX; the records keep their sizes under MSVC's layout;
#  - the DLL, linked with lld-link against Wine's runtime DLLs, exports the 71
#    names and imports the 28 device operations under their MSVC names;
#  - under Wine, beside an MSVC-built fake of the device library
#    (scripts/msvc/abi), it initialises, lists the token, finds and signs with
#    the key pair and finalises, and frees nothing it does not own.
# MSVC_STL_INCLUDE names the stl/inc folder of the MSVC standard library (see
# DEVELOPERS.md); without it the check is skipped.
set -euo pipefail
source "$(dirname "$0")/common.sh"

if [ -z "${MSVC_STL_INCLUDE:-}" ]; then
    echo "MSVC check skipped: MSVC_STL_INCLUDE is not set (the stl/inc folder of the MSVC standard library, see DEVELOPERS.md)"
    exit 0
fi
if [ ! -f "$MSVC_STL_INCLUDE/yvals_core.h" ]; then
    echo "MSVC check failed: MSVC_STL_INCLUDE=$MSVC_STL_INCLUDE holds no MSVC standard library headers" >&2
    exit 1
fi
export MSVC_STL_INCLUDE
ensure_packages "${MSVC_CHECK_PACKAGES[@]}"
start=$(date +%s)
OUT="$ROOT/build/msvc-check"
CONFIG="$OUT/cmake"
OBJ="$OUT/obj"
RUN="$OUT/run"
MSVC="$ROOT/scripts/msvc"
WINE_DLLS=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
rm -rf "$OBJ" "$RUN"
mkdir -p "$OBJ" "$RUN"
fail() {
    echo "MSVC check failed: $*" >&2
    exit 1
}

echo "== MSVC configuration, clang-cl for cl.exe"
(cd "$ROOT" && env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER cmake --preset clang-cl-check >/dev/null)
commands=$(ninja -C "$CONFIG" -t commands ZelmorPKCS11Driver)
gcc_only=$(grep -oE -- ' (-Wall|-Wextra|-static|-pthread|-fsanitize=[^ ]*|-fvisibility[^ ]*|-fPIC|-Wl,[^ ]*)( |$)' \
    <<<"$commands" | sort -u || true)
[ -z "$gcc_only" ] || fail "GCC-only flags in the MSVC configuration: $gcc_only"
while read -r command; do
    for flag in -MD /W4 /permissive- /Zc:__cplusplus /utf-8 -D_DISABLE_CONSTEXPR_MUTEX_CONSTRUCTOR; do
        [[ " $command " == *" $flag "* ]] || fail "a compile command lacks $flag: $command"
    done
done < <(grep -F 'ZelmorModuleObjects.dir' <<<"$commands" | grep -F -- ' -c ')
grep -qF 'ZelmorPKCS11Driver.msvc.def' <<<"$commands" || fail "the link does not use ZelmorPKCS11Driver.msvc.def"
echo "MSVC flags in every compile command, no GCC-only flag, MSVC export definitions"

echo "== compile (/W4 /WX)"
ninja -C "$CONFIG" -j"$JOBS" ZelmorModuleObjects src/CMakeFiles/ZelmorPKCS11Driver.dir/frame/exports/ZelmorPKCS11Driver.rc.res \
    >"$OUT/compile.log" 2>&1 || { cat "$OUT/compile.log"; fail "the module does not compile cleanly"; }
module_objects=$(find "$CONFIG/src/CMakeFiles/ZelmorModuleObjects.dir" -name '*.obj' | sort)
sources=$(find "$ROOT/src" -name '*.cpp' ! -path '*/platform/posix/*' ! -path '*/linkstub/*' | wc -l)
[ "$(wc -l <<<"$module_objects")" -eq "$sources" ] || fail "$sources sources, $(wc -l <<<"$module_objects") objects"
# The stand-ins, the fake and the driver with the configuration's flags.
read -r -a flags <<<"$(sed -n 's/^CMAKE_CXX_FLAGS:STRING=//p' "$CONFIG/CMakeCache.txt")"
flags+=(/O2 /MD /W4 /permissive- /Zc:__cplusplus /utf-8 /std:c++17 -D_DISABLE_CONSTEXPR_MUTEX_CONSTRUCTOR
    "-I$ROOT/src/device" "-I$ROOT/src/pkcs11")
compile() { clang-cl-14 /nologo "${flags[@]}" "${@:3}" /c "/Fo$OBJ/$2.obj" -- "$1" >/dev/null; }
for part in runtime entry_dll entry_exe; do compile "$MSVC/runtime/$part.cpp" "$part"; done
compile "$MSVC/abi/FakeDeviceLibrary.cpp" fake -DZELMOR_DSC_BUILDING_LIBRARY
compile "$MSVC/abi/Driver.cpp" driver
echo "$sources translation units of the module, the version resource, the fake and the driver"

echo "== link (lld-link, import libraries of Wine's runtime DLLs)"
libs=()
for dll in msvcp140 vcruntime140 ucrtbase advapi32 kernel32; do
    { printf 'LIBRARY %s.dll\nEXPORTS\n' "$dll"; llvm-readobj-14 --coff-exports "$WINE_DLLS/$dll.dll" | sed -n 's/^  Name: //p'; } \
        >"$OBJ/$dll.def"
    llvm-dlltool-14 -m i386:x86-64 -d "$OBJ/$dll.def" -l "$OBJ/$dll.lib"
    libs+=("$OBJ/$dll.lib")
done
link() { lld-link-14 /nologo /machine:x64 /nodefaultlib "$@" "${libs[@]}"; }
dll_runtime=("$OBJ/runtime.obj" "$OBJ/entry_dll.obj")
link /dll /entry:_DllMainCRTStartup "/out:$RUN/ZelmorDSCLibrary.dll" "/implib:$OBJ/ZelmorDSCLibrary.lib" \
    "$OBJ/fake.obj" "${dll_runtime[@]}"
# shellcheck disable=SC2086 # one object per line
link /dll /entry:_DllMainCRTStartup "/out:$RUN/ZelmorPKCS11Driver.dll" "/implib:$OBJ/ZelmorPKCS11Driver.lib" \
    "/def:$ROOT/src/frame/exports/ZelmorPKCS11Driver.msvc.def" $module_objects \
    "$CONFIG/src/CMakeFiles/ZelmorPKCS11Driver.dir/frame/exports/ZelmorPKCS11Driver.rc.res" \
    "$OBJ/ZelmorDSCLibrary.lib" "${dll_runtime[@]}"
link /subsystem:console /entry:mainCRTStartup "/out:$RUN/msvc-abi-driver.exe" "$OBJ/driver.obj" "$OBJ/runtime.obj" \
    "$OBJ/entry_exe.obj"

echo "== exports and imports"
"$ROOT/tests/check_exports.sh" windows "$RUN/ZelmorPKCS11Driver.dll" "$ROOT/tests/expected_exports.txt"
echo "of which $(llvm-readobj-14 --coff-exports "$RUN/ZelmorPKCS11Driver.dll" | grep -c '^  Name: ?') MSVC-decorated"
imports=$(llvm-readobj-14 --coff-imports "$RUN/ZelmorPKCS11Driver.dll")
awk '/^  Name: /{dll=$2} /^  Symbol: / && dll=="ZelmorDSCLibrary.dll"{print $2}' <<<"$imports" | sort >"$OBJ/device-imports.txt"
diff <(sort "$MSVC/expected_device_imports.txt") "$OBJ/device-imports.txt" ||
    fail "imports from ZelmorDSCLibrary.dll differ from scripts/msvc/expected_device_imports.txt (< expected, > found)"
echo "$(wc -l <"$OBJ/device-imports.txt") operations imported from ZelmorDSCLibrary.dll under their MSVC names"
echo "imported DLLs: $(awk '/^  Name: /{print $2}' <<<"$imports" | tr '\n' ' ')"

echo "== the module beside the MSVC-ABI fake device library, under Wine"
export_wine_environment
(cd "$RUN" && timeout 300 wine msvc-abi-driver.exe) || fail "the run under Wine failed"
echo "== MSVC check passed in $(($(date +%s) - start)) s"
