#!/usr/bin/env bash
# Builds everything and runs every test suite: Linux natively, the same tests
# under Wine against the Windows DLL, the AddressSanitizer/UBSan and
# ThreadSanitizer builds, and the interoperability scenarios with real
# PKCS#11 applications. Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "$0")/common.sh"
start=$(date +%s)

"$ROOT/scripts/build.sh"

echo "== sanitizer builds"
configure_and_build "$ROOT/build/asan" -DZELMOR_SANITIZE=address
configure_and_build "$ROOT/build/tsan" -DZELMOR_SANITIZE=thread

failures=()
run_suite() {
    local name=$1
    shift
    echo "== $name"
    if ! "$@"; then failures+=("$name"); fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run_suite "Linux tests" ctest --test-dir "$ROOT/build/linux" -j"$JOBS" --output-on-failure
run_suite "AddressSanitizer + UBSan tests" ctest --test-dir "$ROOT/build/asan" -j"$JOBS" --output-on-failure
run_suite "ThreadSanitizer tests" ctest --test-dir "$ROOT/build/tsan" -j"$JOBS" --output-on-failure -E unload_probe
run_suite "Interoperability tests" "$ROOT/tests/interop/run_all.sh" "$ROOT/build/linux" --windows "$ROOT/build/windows"
export_wine_environment
# One at a time: the suites share the Wine registry value of the log level.
run_suite "Windows tests under Wine" ctest --test-dir "$ROOT/build/windows" -j1 --output-on-failure

echo "== finished in $(( $(date +%s) - start )) s"
if [ ${#failures[@]} -ne 0 ]; then
    printf 'FAILED: %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "all test suites passed"
