#!/usr/bin/env bash
# Builds the libFuzzer harnesses (tests/fuzz, clang 14, AddressSanitizer and
# UBSan) and runs each for the given time, starting from the committed seed
# corpora. Fails on any finding; the input that caused it is left in
# build/fuzz/findings/HARNESS/.
#
#   scripts/fuzz.sh [SECONDS]   each harness for SECONDS (default 300)
#   scripts/fuzz.sh --smoke     each harness for 60 s
set -euo pipefail
source "$(dirname "$0")/common.sh"

seconds=300
case "${1:-}" in
    --smoke) seconds=60 ;;
    '') ;;
    *[!0-9]*) echo "usage: $0 [SECONDS | --smoke]" >&2; exit 2 ;;
    *) seconds=$1 ;;
esac

ensure_packages clang-14 libclang-rt-14-dev llvm-14
build="$ROOT/build/fuzz"
cmake -S "$ROOT/tests/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 >/dev/null
ninja -C "$build" -j"$JOBS"

# The harnesses keep their log files and scratch folders here.
export TMPDIR="$build/tmp"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for harness in fuzz_pkcs11_api fuzz_device_records fuzz_sim_parsers; do
    corpus="$build/corpus/$harness"
    findings="$build/findings/$harness"
    mkdir -p "$corpus" "$findings"
    log="$build/$harness.log"
    echo "== $harness: $seconds s"
    status=0
    "$build/$harness" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$ROOT/tests/fuzz/corpus/$harness" >"$log" 2>&1 || status=$?
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" "$log" || true
    if [ $status -ne 0 ]; then
        echo "FINDING in $harness (exit $status); log $log, input(s):" >&2
        ls "$findings" >&2
        grep -E "ERROR|SUMMARY|^    #[0-9]+ .*(src|sim|tests)/" "$log" | head -30 >&2 || true
        failed+=("$harness")
    fi
done
rm -rf "$TMPDIR"

if [ ${#failed[@]} -ne 0 ]; then
    printf 'fuzzing found faults in: %s\n' "${failed[*]}" >&2
    exit 1
fi
echo "no findings"
