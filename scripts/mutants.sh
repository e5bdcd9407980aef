#!/usr/bin/env bash
# Mutation testing on demand (not part of scripts/test.sh): plants one small
# fault at a time in the module's sources (src/**/*.cpp and src/**/*.h),
# rebuilds and runs the tests, on a random sample per seed. First the fast
# suites (API and unit) meet every mutant of a sample, and the failing test
# cases of every kill are noted; then, unless --fast-only, the fast suites'
# survivors meet the full Linux suite. tests/mutation-report.md is rewritten
# with every sample's scores, kills and survivors; the explanations already
# written there for survivors that are still there are kept.
#
# A seed not given is drawn at run time and printed: a sample nobody has
# tuned tests to estimates the rest of the code; a given seed (20261206 was
# the long-standing one) repeats a sample while the sources stay the same.
#
# Usage: scripts/mutants.sh [--sample N] [--seeds K] [--timeout SECONDS] [--fast-only] [SEED...]
#   --sample N   mutants per sample (80)
#   --seeds K    without SEED arguments: draw K seeds (1)
#   --timeout S  time limit of one mutant's test run, past it the mutant counts as killed by a
#                timeout (400: generous on a busy machine; ctest's own limit, for suites without
#                one of their own, is half of it)
# Environment: MUTANTS_TOOL (the mutants.py to use, default ../shared/tools/mutants.py
# beside the checkout), MUTANTS_TIMING_TESTS (see scripts/mutant_tests.sh).
set -euo pipefail
source "$(dirname "$0")/common.sh"
sample_size=80 draws=1 timeout=400 fast_only=0 seeds=()
while [ $# -gt 0 ]; do
    case $1 in
        --sample) sample_size=$2; shift 2 ;;
        --seeds) draws=$2; shift 2 ;;
        --timeout) timeout=$2; shift 2 ;;
        --fast-only) fast_only=1; shift ;;
        -*) echo "mutants.sh: unknown option $1" >&2; exit 2 ;;
        *) seeds+=("$1"); shift ;;
    esac
done
if [ ${#seeds[@]} -eq 0 ]; then
    for _ in $(seq "$draws"); do seeds+=("$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')"); done
fi
echo "mutants.sh: seeds ${seeds[*]}, $sample_size mutants each, on commit $(git -C "$ROOT" rev-parse --short HEAD)"
tool=${MUTANTS_TOOL:-$ROOT/../shared/tools/mutants.py}
[ -f "$tool" ] || { echo "mutants.sh: no mutation tool at $tool (set MUTANTS_TOOL)" >&2; exit 2; }
out="$ROOT/build/mutants"
mkdir -p "$out"
per_suite=$((timeout / 2))
fast_regex='^(api|unit)_'
full_regex='.'
describe_fast="ctest --test-dir build/linux -R \"$fast_regex\" -j2 --timeout $per_suite"
describe_full="ctest --test-dir build/linux -j2 --timeout $per_suite"

ensure_packages "${BUILD_PACKAGES[@]}"
# The fast phase builds only the fast suites' programs (a ctest test is named
# after its program here) and what they depend on: the module and the fake.
cmake -S "$ROOT" -B "$ROOT/build/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fast_targets=$(ctest --test-dir "$ROOT/build/linux" -N -R "$fast_regex" | sed -n 's/^ *Test *#[0-9]*: *//p' | paste -sd' ' -)
fast_build="ninja -C build/linux $fast_targets"
(cd "$ROOT" && $fast_build >/dev/null)
[ $fast_only -eq 1 ] || configure_and_build "$ROOT/build/linux" >/dev/null
runs=()
for seed in "${seeds[@]}"; do
    sample=(--root "$ROOT" --files 'src/**/*.cpp' --files 'src/**/*.h'
        --exclude 'src/pkcs11/*' --exclude 'src/platform/windows/*' --exclude 'src/device/linkstub/*'
        --sample "$sample_size" --seed "$seed" --timeout "$timeout")
    : >"$out/$seed.fast.tests"
    python3 "$tool" "${sample[@]}" --build "$fast_build" --test "scripts/mutant_tests.sh '$out/$seed.fast.tests' '$fast_regex' $per_suite" |
        tee "$out/$seed.fast.log"
    survivors=$(sed -n 's/^\[\([0-9]*\)\/[0-9]*\] survived .*/\1/p' "$out/$seed.fast.log" | paste -sd, -)
    : >"$out/$seed.full.log"
    : >"$out/$seed.full.tests"
    if [ -n "$survivors" ] && [ $fast_only -eq 0 ]; then
        python3 "$tool" "${sample[@]}" --build 'ninja -C build/linux' --pick "$survivors" \
            --test "scripts/mutant_tests.sh '$out/$seed.full.tests' '$full_regex' $per_suite" | tee "$out/$seed.full.log"
    fi
    runs+=(--run "$seed" "$out/$seed")
done
full_description=$([ $fast_only -eq 0 ] && echo "$describe_full" || echo "")
python3 "$ROOT/scripts/mutation_report.py" "$ROOT/tests/mutation-report.md" "${runs[@]}" \
    --fast "$describe_fast" --full "$full_description" --sample "$sample_size"
echo "written: tests/mutation-report.md (seeds ${seeds[*]})"
