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
#    the key pair, verifies and decrypts, finalises, and frees nothing it does
#    not own;
#  - binding to a device library of another spelling: scripts/device-exports.sh
#    finds every operation in our own fake, every one in a fake whose names
#    differ only in ways that keep the x64 call (the module configured with
#    ZELMOR_DEVICE_EXPORTS against it imports its names and runs beside it
#    under Wine), and exactly the different call and the missing operation of
#    a third fake, for which the configuration stops.
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
compile "$MSVC/abi/MakerSpellingFake.cpp" maker-fake -DZELMOR_DSC_BUILDING_LIBRARY
compile "$MSVC/abi/FakeDeviceLibrary.cpp" broken-fake -DZELMOR_DSC_BUILDING_LIBRARY -DZELMOR_FAKE_DIFFERENT_CALL
compile "$MSVC/abi/Driver.cpp" driver
echo "$sources translation units of the module, the version resource, the three fakes and the driver"

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
for fake in maker broken; do
    mkdir -p "$OUT/$fake"
    link /dll /entry:_DllMainCRTStartup "/out:$OUT/$fake/ZelmorDSCLibrary.dll" \
        "/implib:$OUT/$fake/ZelmorDSCLibrary.lib" "$OBJ/$fake-fake.obj" "${dll_runtime[@]}"
done
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
# A prefix of its own: the other Wine suites run at the same time.
export_wine_environment "$OUT/wineprefix"
(cd "$RUN" && timeout 300 wine msvc-abi-driver.exe) || fail "the run under Wine failed"

echo "== device-exports.sh: our fake binds"
exports() { "$ROOT/scripts/device-exports.sh" "$@" >"$OUT/exports.txt" 2>&1; }
verdicts() { sed -n 's/^\(zelmor_[A-Za-z]*\) *\([a-z][a-z ,]*\).*/\1 \2/p' "$OUT/exports.txt" | sed 's/ *$//'; }
exports "$RUN/ZelmorDSCLibrary.dll" || { cat "$OUT/exports.txt"; fail "device-exports.sh rejects our own fake"; }
[ "$(verdicts | grep -c ' binds$')" -eq 28 ] || { cat "$OUT/exports.txt"; fail "our own fake: not 28 binds"; }
echo "28 operations bind"

echo "== device-exports.sh: the fake of another spelling differs only in names"
exports "$OUT/maker/ZelmorDSCLibrary.dll" ||
    { cat "$OUT/exports.txt"; fail "device-exports.sh rejects the fake of another spelling"; }
tail -2 "$OUT/exports.txt"
renamed=$(verdicts | grep -c ' name differs, same call$' || true)
[ "$(verdicts | grep -cE ' (binds|name differs, same call)$')" -eq 28 ] && [ "$renamed" -ge 20 ] ||
    fail "the fake of another spelling: every operation must bind or differ only in name, at least 20 in name"
verdicts >"$OUT/maker/verdicts-dll.txt"
exports "$OUT/maker/ZelmorDSCLibrary.lib" && verdicts | cmp -s - "$OUT/maker/verdicts-dll.txt" ||
    fail "its import library does not read as the DLL"
llvm-readobj-14 --coff-exports "$OUT/maker/ZelmorDSCLibrary.dll" >"$OUT/maker/exports-list.txt"
exports "$OUT/maker/exports-list.txt" && verdicts | cmp -s - "$OUT/maker/verdicts-dll.txt" ||
    fail "its export list does not read as the DLL"
echo "$renamed operations differ in name only; the import library and the export list read the same"

echo "== ZELMOR_DEVICE_EXPORTS: the module imports the other spelling's names and runs beside it"
configure_bound() {
    env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER cmake --preset clang-cl-check -B "$OUT/$1/cmake" \
        -DZELMOR_DEVICE_EXPORTS="$OUT/$1/ZelmorDSCLibrary.dll" >"$OUT/$1/configure.log" 2>&1
}
configure_bound maker ||
    { cat "$OUT/maker/configure.log"; fail "configuring with the fake of another spelling failed"; }
# The link options of the bound build: a response file of /ALTERNATENAME options.
aliases="$OUT/maker/cmake/device-binding/alternatenames.rsp"
ninja -C "$OUT/maker/cmake" -t commands ZelmorPKCS11Driver | tail -1 | grep -qF "@$aliases" ||
    fail "the bound build does not link with @$aliases"
[ "$(grep -c '^/ALTERNATENAME:__imp_?' "$aliases")" -eq "$renamed" ] ||
    fail "$(grep -c . "$aliases") /ALTERNATENAME options in $aliases, $renamed renamed operations"
implib="$OUT/maker/cmake/device-binding/ZelmorDSCLibrary.lib"
grep -E '^  LINK_LIBRARIES = ' "$OUT/maker/cmake/build.ninja" | grep -F 'device-binding/ZelmorDSCLibrary.lib' |
    grep -qvF linkstub || fail "the bound build does not link $implib in the place of the link stub's"
cp "$RUN/msvc-abi-driver.exe" "$OUT/maker/"
# shellcheck disable=SC2086 # one object per line
link /dll /entry:_DllMainCRTStartup "/out:$OUT/maker/ZelmorPKCS11Driver.dll" "/implib:$OBJ/bound.lib" \
    "/def:$ROOT/src/frame/exports/ZelmorPKCS11Driver.msvc.def" $module_objects \
    "$CONFIG/src/CMakeFiles/ZelmorPKCS11Driver.dir/frame/exports/ZelmorPKCS11Driver.rc.res" \
    "@$aliases" "$implib" "${dll_runtime[@]}"
diff <(llvm-readobj-14 --coff-imports "$OUT/maker/ZelmorPKCS11Driver.dll" |
    awk '/^  Name: /{dll=$2} /^  Symbol: / && dll=="ZelmorDSCLibrary.dll"{print $2}' | sort) \
    <(llvm-readobj-14 --coff-exports "$OUT/maker/ZelmorDSCLibrary.dll" | sed -n 's/^  Name: \(?.*\)/\1/p' | sort) ||
    fail "the bound module's imports are not the other spelling's exports (< imported, > exported)"
(cd "$OUT/maker" && timeout 300 wine msvc-abi-driver.exe) || fail "the bound module failed under Wine"

echo "== device-exports.sh and ZELMOR_DEVICE_EXPORTS: a different call and a missing operation"
if exports "$OUT/broken/ZelmorDSCLibrary.dll"; then
    cat "$OUT/exports.txt"
    fail "device-exports.sh accepts the third fake"
fi
expected=$'zelmor_changeUserPassword different call\nzelmor_generateRamdomNumber missing'
diff <(verdicts | grep -v ' binds$') - <<<"$expected" ||
    { cat "$OUT/exports.txt"; fail "the third fake: not exactly the BOOL result and the missing operation"; }
grep -q 'result: bool here, int in the library' "$OUT/exports.txt" ||
    { cat "$OUT/exports.txt"; fail "the BOOL result is not named"; }
mkdir -p "$OUT/broken/cmake"
if configure_bound broken; then fail "configuring with the third fake succeeded"; fi
grep -q 'zelmor_generateRamdomNumber *missing' "$OUT/broken/configure.log" &&
    grep -qF 'src/device/ZelmorDSCLibrary.h' "$OUT/broken/configure.log" ||
    { cat "$OUT/broken/configure.log"; fail "the stopped configuration does not show the table and what to change"; }
echo "the different call and the missing operation named; the configuration stops with the table"
echo "== MSVC check passed in $(($(date +%s) - start)) s"
