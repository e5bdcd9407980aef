#!/usr/bin/env bash
# The test command scripts/mutants.sh gives the mutation tool: runs the ctest
# suites matching REGEX and appends to RECORD a line "place<TAB>started", then
# "place<TAB>outcome<TAB>failing test cases<TAB>note", the place being the
# mutated file:line (empty for the unmutated tree). A failure of timing-dependent tests only (their
# names match MUTANTS_TIMING_TESTS) is run once more and counts only if it
# fails again.
#
# Usage: scripts/mutant_tests.sh RECORD REGEX TIMEOUT
set -uo pipefail
record=$1 regex=$2 timeout=$3
cd "$(dirname "$0")/.."
timing=${MUTANTS_TIMING_TESTS:-'^(ConcurrencyTest\.|SlotsTest\.SlotEvents|CreateObject\.SessionClosedWhileTheDeviceWorks$)'}

place=$(git diff HEAD -U0 -- src | awk '/^\+\+\+ b\//{file = substr($2, 3)}
    /^@@/ && file != "" {split($3, at, /[+,]/); print file ":" at[2]; exit}')

# Runs the suites; sets output, status, cases (failed test cases) and programs
# (failed ctest tests).
run_suites() {
    output=$(ctest --test-dir build/linux -R "$1" -j2 --timeout "$timeout" --output-on-failure 2>&1)
    status=$?
    cases=$(grep -oE '^\[  FAILED  \] [A-Za-z0-9_/]+\.[A-Za-z0-9_/.]+' <<<"$output" | awk '{print $4}' | sort -u |
        paste -sd' ' -)
    programs=$(sed -n 's/^[[:space:]]*[0-9]* - \([A-Za-z0-9_]*\) (\(.*\))[[:space:]]*$/\1 (\2)/p' <<<"$output" |
        paste -sd';' -)
}

printf '%s\tstarted\n' "$place" >>"$record"  # a run cut short by the tool's time limit ends here
run_suites "$regex"
note=""
if [ $status -ne 0 ] && [ -n "$cases" ] && ! grep -q '\*\*\*Timeout\|SEGFAULT\|Exception\|Subprocess aborted' <<<"$output" &&
    ! tr ' ' '\n' <<<"$cases" | grep -qvE "$timing"; then
    first_cases=$cases
    names=$(sed 's/ (.*)//' <<<"${programs//;/$'\n'}" | paste -sd'|' -)
    GTEST_FILTER=${cases// /:} run_suites "^($names)\$"
    if [ $status -eq 0 ]; then
        note="timing-dependent failure of $first_cases passed when run again"
    else
        note="timing-dependent failure, failed again when run again"
        cases="$first_cases"
    fi
fi
outcome=$([ $status -eq 0 ] && echo passed || echo failed)
[ -n "$cases" ] || cases=${programs:-}
printf '%s\t%s\t%s\t%s\n' "$place" "$outcome" "$cases" "$note" >>"$record"
printf '%s\n' "$output"
exit $status
