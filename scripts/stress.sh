#!/usr/bin/env bash
# Stress run: 8 threads feed the API driver of the fuzzers (tests/fuzz) random
# bytes against the module on the virtual device library while another
# process plugs and unplugs the device. Fails on a crash, a hang, a data race
# (with --tsan) or a result an entry point may not return.
#
#   scripts/stress.sh [SECONDS] [--tsan]
#
# SECONDS defaults to 600. --tsan runs the ThreadSanitizer build (build/tsan)
# instead of build/linux and fails on any report. STRESS_BUILD_DIR names
# another build folder.
set -euo pipefail
source "$(dirname "$0")/common.sh"

seconds=600
build="$ROOT/build/linux"
sanitize=()
stress_flags=""
for argument in "$@"; do
    case "$argument" in
        --tsan) build="$ROOT/build/tsan"; sanitize=(-DZELMOR_SANITIZE=thread); stress_flags="-fsanitize=thread" ;;
        ''|*[!0-9]*) echo "usage: $0 [SECONDS] [--tsan]" >&2; exit 2 ;;
        *) seconds=$argument ;;
    esac
done

build=${STRESS_BUILD_DIR:-$build}
# Only what the run needs: the module, the virtual device library and its tool.
cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${sanitize[@]}" >/dev/null
ninja -C "$build" -j"$JOBS" ZelmorPKCS11Driver ZelmorDSCLibrary zelmor-sim >/dev/null
stress_build="$build-stress"
cmake -S "$ROOT/tests/stress" -B "$stress_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$stress_flags" -DCMAKE_EXE_LINKER_FLAGS="$stress_flags" -DZELMOR_MODULE_DIR="$build" >/dev/null
ninja -C "$stress_build" -j"$JOBS" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp" "$work/config"
export ZELMOR_SIM_HOME="$work/store" TMPDIR="$work/tmp" ZELMOR_CONFIG_DIR="$work/config"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
serial=STRESS0001
pin=12345678
"$build/zelmor-sim" create "$serial" --pin "$pin" --capacity 1000 >/dev/null

# The device is unplugged and plugged again at random moments meanwhile.
(
    trap 'exit 0' TERM
    while sleep "0.$((RANDOM % 9 + 1))"; do
        "$build/zelmor-sim" unplug "$serial" >/dev/null && sleep "0.$((RANDOM % 9 + 1))" &&
            "$build/zelmor-sim" plug "$serial" >/dev/null || exit 1
    done
) &
plugger=$!

echo "== stress: $seconds s, 8 threads, $(basename "$build")"
status=0
# A call that hangs keeps the run from ending: it is stopped 60 s late.
timeout -s KILL $((seconds + 60)) "$stress_build/zelmor_stress" "$seconds" 8 ||
    status=$?
kill "$plugger" 2>/dev/null || true
wait "$plugger" 2>/dev/null || true
[ $status -ne 137 ] || echo "the stress run hung: stopped $((seconds + 60)) s after its start" >&2
exit $status
