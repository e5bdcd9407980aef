#!/usr/bin/env bash
# Stress run: 8 threads call random mixes of entry points of the module
# against the virtual device library while another process plugs and unplugs
# the device. Fails on a crash, a call hanging for more than 30 s or a result
# an entry point may not return.
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
    -DCMAKE_CXX_FLAGS="$stress_flags" -DCMAKE_EXE_LINKER_FLAGS="$stress_flags" >/dev/null
ninja -C "$stress_build" -j"$JOBS" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp" "$work/config"
export ZELMOR_SIM_HOME="$work/store" TMPDIR="$work/tmp" ZELMOR_CONFIG_DIR="$work/config"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
serial=STRESS0001
pin=24681357
"$build/zelmor-sim" create "$serial" --pin "$pin" --capacity 1000 >/dev/null

echo "== stress: $seconds s, 8 threads, $(basename "$build")"
"$stress_build/zelmor_stress" "$build/libZelmorPKCS11Driver.so" "$seconds" "$serial" "$pin" \
    "$build/zelmor-sim" 8
