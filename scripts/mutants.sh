#!/usr/bin/env bash
# Mutation testing on demand (not part of scripts/test.sh): plants one small
# fault at a time in the module's sources, rebuilds and runs the tests, for a
# fixed sample, so that runs on different commits compare like with like.
# First the fast suites (API and unit) meet every mutant of the sample; then
# the fast suites' survivors meet the full Linux suite (a mutant the fast
# suites kill, the full suite kills too). tests/mutation-report.md is
# rewritten with both scores; the explanations already written there for
# survivors that are still there are kept.
#
# Usage: scripts/mutants.sh
# Environment: MUTANTS_TOOL (the mutants.py to use, default
# ../shared/tools/mutants.py beside the checkout), MUTANTS_SAMPLE (120),
# MUTANTS_SEED (20261206).
set -euo pipefail
source "$(dirname "$0")/common.sh"
tool=${MUTANTS_TOOL:-$ROOT/../shared/tools/mutants.py}
[ -f "$tool" ] || { echo "mutants.sh: no mutation tool at $tool (set MUTANTS_TOOL)" >&2; exit 2; }
out="$ROOT/build/mutants"
mkdir -p "$out"
fast='ctest --test-dir build/linux -R "^(api|unit)_" -j2 --timeout 120'
full='ctest --test-dir build/linux -j2'
sample=(--root "$ROOT" --build 'ninja -C build/linux' --files 'src/**/*.cpp' --exclude 'src/pkcs11/*'
    --exclude 'src/platform/windows/*' --exclude 'src/device/linkstub/*'
    --sample "${MUTANTS_SAMPLE:-120}" --seed "${MUTANTS_SEED:-20261206}")

ensure_packages "${BUILD_PACKAGES[@]}"
configure_and_build "$ROOT/build/linux" >/dev/null
python3 "$tool" "${sample[@]}" --test "$fast" --report "$out/fast.md" | tee "$out/fast.log"
survivors=$(sed -n 's/^\[\([0-9]*\)\/[0-9]*\] survived .*/\1/p' "$out/fast.log" | paste -sd, -)
: >"$out/full.log"
if [ -n "$survivors" ]; then
    python3 "$tool" "${sample[@]}" --test "$full" --pick "$survivors" | tee "$out/full.log"
fi
python3 "$ROOT/scripts/mutation_report.py" "$out/fast.log" "$out/full.log" "$ROOT/tests/mutation-report.md" \
    --fast "$fast" --full "$full" --sample "${MUTANTS_SAMPLE:-120}" --seed "${MUTANTS_SEED:-20261206}"
echo "written: tests/mutation-report.md"
