#!/usr/bin/env bash
# Builds everything and runs every test suite: Linux natively (unit, API,
# virtual device library, end-to-end), the same API tests under Wine against
# the Windows DLL, the AddressSanitizer/UBSan build, the ThreadSanitizer build
# of the concurrency tests and a short stress run, the interoperability
# scenarios with real PKCS#11 applications, a fuzzing smoke run, and the MSVC
# check (scripts/msvc-check.sh). The Debian packages are built, checked with
# lintian, installed and purged (scripts/package.sh,
# tests/interop/package_check.sh); the Windows installer is built, installed,
# upgraded and removed under Wine (scripts/package-windows.sh,
# tests/installer/msi_check.sh). Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "$0")/common.sh"
start=$(date +%s)
LOGS="$ROOT/build/test-logs"
rm -rf "$LOGS"
mkdir -p "$LOGS"

ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" "${WINDOWS_PACKAGE_PACKAGES[@]}"
# The MSVC check needs the MSVC standard library headers: the shared folder
# beside the clone (as CI has it), else /opt/msvc-stl/stl/inc (DEVELOPERS.md).
# Without them it says it skips.
for stl in "$ROOT/../shared/third_party/msvc-stl-b29a16b86/stl/inc" /opt/msvc-stl/stl/inc; do
    if [ -z "${MSVC_STL_INCLUDE:-}" ] && [ -f "$stl/yvals_core.h" ]; then export MSVC_STL_INCLUDE=$stl; fi
done
[ -z "${MSVC_STL_INCLUDE:-}" ] || ensure_packages "${MSVC_CHECK_PACKAGES[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

failures=()
run_suite() {
    local name=$1
    shift
    echo "== $name"
    if ! "$@"; then failures+=("$name"); fi
}

# Suites that spend most of their time waiting (the module's one-second
# monitor, application start-up) run in the background while the sanitizer
# builds compile; their output is printed at the end.
background_names=()
run_in_background() {
    local name=$1 index=${#background_names[@]}
    shift
    echo "== $name (in the background)"
    background_names+=("$name")
    ( if "$@" >"$LOGS/$index.log" 2>&1; then echo 0; else echo 1; fi >"$LOGS/$index.rc" ) &
}
collect_background() {
    wait
    local index
    for index in "${!background_names[@]}"; do
        echo "== ${background_names[$index]}"
        cat "$LOGS/$index.log"
        [ "$(cat "$LOGS/$index.rc")" = 0 ] || failures+=("${background_names[$index]}")
    done
}

echo "== Linux build"
configure_and_build "$ROOT/build/linux"
run_suite "Linux tests" ctest --test-dir "$ROOT/build/linux" -j"$JOBS" --output-on-failure

echo "== Windows build"
configure_and_build "$ROOT/build/windows" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake"
export_wine_environment
# One at a time: the Wine suites share the registry value of the log level.
run_in_background "Windows tests under Wine" ctest --test-dir "$ROOT/build/windows" -j1 --output-on-failure
run_in_background "Interoperability tests" "$ROOT/tests/interop/run_all.sh" "$ROOT/build/linux" \
    --windows "$ROOT/build/windows"
# The install and purge run in a private mount namespace: the interoperability
# scenarios running meanwhile never see the installed module.
debian_packages() { "$ROOT/scripts/package.sh" && "$ROOT/tests/interop/package_check.sh" "$ROOT/build/package"; }
run_in_background "Debian packages (lintian, install, purge)" debian_packages
run_in_background "MSVC check (clang-cl, Wine)" "$ROOT/scripts/msvc-check.sh"
# In a Wine prefix of its own (build/wineprefix-msi), apart from the suites above.
run_in_background "Windows installer (wixl, msiexec under Wine)" "$ROOT/tests/installer/msi_check.sh" \
    "$ROOT/build/windows"

echo "== AddressSanitizer + UBSan build"
configure_and_build "$ROOT/build/asan" -DZELMOR_SANITIZE=address -DZELMOR_BUILD_BENCH=OFF
run_suite "AddressSanitizer + UBSan tests" ctest --test-dir "$ROOT/build/asan" -j"$JOBS" --output-on-failure

echo "== ThreadSanitizer build (concurrency tests and the stress program)"
cmake -S "$ROOT" -B "$ROOT/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELMOR_SANITIZE=thread \
    -DZELMOR_BUILD_BENCH=OFF >/dev/null
ninja -C "$ROOT/build/tsan" -j"$JOBS" api_concurrency_tests api_slots_tests
run_suite "ThreadSanitizer tests" ctest --test-dir "$ROOT/build/tsan" -j"$JOBS" --output-on-failure \
    -R 'api_concurrency|api_slots'

run_suite "Stress run under ThreadSanitizer (60 s)" "$ROOT/scripts/stress.sh" 60 --tsan
run_suite "Fuzzing smoke run (60 s per harness)" "$ROOT/scripts/fuzz.sh" --smoke

collect_background

echo "== finished in $(( $(date +%s) - start )) s"
if [ ${#failures[@]} -ne 0 ]; then
    printf 'FAILED: %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "all test suites passed"
