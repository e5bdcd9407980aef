#!/usr/bin/env bash
# Benchmarks, in one run: this module with the virtual device library,
# SoftHSM2 (Debian) as the peer module, and libcrypto directly as the ceiling.
# Prints the table, writes it with the machine, date and commands to
# bench/results.md and draws bench/results.png.
#
#   scripts/bench.sh           full run (a few minutes)
#   scripts/bench.sh --quick   smoke check: every step once, tiny runs; results
#                              go to a temporary folder, bench/ is left alone
set -euo pipefail
source "$(dirname "$0")/common.sh"

QUICK=0
case "${1:-}" in
    "") ;;
    --quick) QUICK=1 ;;
    *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
esac

ensure_packages cmake ninja-build g++ libssl-dev softhsm2 gnuplot-nox

# ZELMOR_BUILD_DIR: another Linux build folder of this tree (default build/linux).
BUILD="${ZELMOR_BUILD_DIR:-$ROOT/build/linux}"
MODULE="$BUILD/libZelmorPKCS11Driver.so"
SIM="$BUILD/zelmor-sim"
BENCH="$BUILD/zelmor-bench"
SOFTHSM_MODULE=/usr/lib/softhsm/libsofthsm2.so
if [ -z "${ZELMOR_BUILD_DIR:-}" ] && { [ ! -f "$MODULE" ] || [ ! -f "$BUILD/libZelmorDSCLibrary.so" ] ||
    [ ! -x "$SIM" ] || [ ! -x "$BENCH" ]; }; then
    echo "== building (scripts/build.sh)"
    "$ROOT/scripts/build.sh"
else
    ninja -C "$BUILD" zelmor-bench >/dev/null
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
if [ $QUICK -eq 1 ]; then
    OUT="$WORK/out"
    QUICK_FLAG=(--quick)
else
    OUT="$ROOT/bench"
    QUICK_FLAG=()
fi
mkdir -p "$OUT"
ROWS="$WORK/rows.tsv"
: >"$ROWS"

PIN=12345678
SERIAL=ZLMBENCH0001
SUBJECT="ZelmorPKCS11Driver"
PEER="SoftHSM2 $(dpkg-query -W -f='${Version}' softhsm2 | sed 's/-.*//')"
CEILING="libcrypto $(dpkg-query -W -f='${Version}' libssl3 | sed 's/-.*//')"

# Every command that produces a figure goes through `run`, so results.md can
# list them exactly as they ran (environment included).
COMMANDS=()
run() {
    local shown="" word
    for word in "$@"; do shown+="$(printf '%q' "$word") "; done
    COMMANDS+=("${shown% }")
    echo "+ ${shown% }"
    env "$@"
}

# This module: a fresh virtual device in a temporary store, the default log
# level (no logLevel file) and no CA folder.
SIM_HOME="$WORK/zelmor-sim"
ZELMOR_ENV=(ZELMOR_SIM_HOME="$SIM_HOME" ZELMOR_HOME="$WORK/zelmor-home" ZELMOR_CONFIG_DIR="$WORK/zelmor-config")
mkdir -p "$WORK/zelmor-config"
run "${ZELMOR_ENV[@]}" "$SIM" create "$SERIAL" --pin "$PIN" --label "Zelmor Bench" --capacity 128

# SoftHSM2: its own token in a temporary folder.
mkdir -p "$WORK/softhsm/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
    "$WORK/softhsm/tokens" >"$WORK/softhsm/softhsm2.conf"
SOFTHSM_ENV=(SOFTHSM2_CONF="$WORK/softhsm/softhsm2.conf")
run "${SOFTHSM_ENV[@]}" softhsm2-util --init-token --free --label bench --pin "$PIN" --so-pin 87654321 >/dev/null

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
SOURCE="commit $(git -C "$ROOT" rev-parse --short HEAD)"
git -C "$ROOT" diff --quiet HEAD -- src sim 2>/dev/null || SOURCE+=" with uncommitted changes in src/ or sim/"
STARTED=$(date -u '+%Y-%m-%d %H:%M:%S UTC')

echo "== $CEILING (ceiling)"
run "$BENCH" ceiling --name "$CEILING" "${QUICK_FLAG[@]}" --out "$ROWS"

echo "== $SUBJECT with the virtual device library"
run "${ZELMOR_ENV[@]}" "$BENCH" pkcs11 --module "$MODULE" --name "$SUBJECT" --pin "$PIN" \
    --token-label "Zelmor Bench" "${QUICK_FLAG[@]}" \
    --unplug-command "$(printf '%q' "$SIM") unplug $SERIAL" --plug-command "$(printf '%q' "$SIM") plug $SERIAL" \
    --out "$ROWS"
run "${ZELMOR_ENV[@]}" "$BENCH" memory --module "$MODULE" --name "$SUBJECT" --sessions 1000 --out "$ROWS"

echo "== $PEER"
run "${SOFTHSM_ENV[@]}" "$BENCH" pkcs11 --module "$SOFTHSM_MODULE" --name "$PEER" --pin "$PIN" \
    --token-label bench "${QUICK_FLAG[@]}" --out "$ROWS"
run "${SOFTHSM_ENV[@]}" "$BENCH" memory --module "$SOFTHSM_MODULE" --name "$PEER" --token-label bench \
    --sessions 1000 --out "$ROWS"

LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)

echo "== results"
"$BENCH" report --subject "$SUBJECT" --peer "$PEER" --ceiling "$CEILING" \
    --markdown "$WORK/table.md" --plot-data "$WORK/plot.dat" "$ROWS"

{
    echo "# Benchmark results"
    echo
    echo "Made by \`${ZELMOR_BUILD_DIR:+ZELMOR_BUILD_DIR=$ZELMOR_BUILD_DIR }scripts/bench.sh$([ $QUICK -eq 1 ] && echo ' --quick')\` on $STARTED."
    echo
    echo "- Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(uname -sr)"
    echo "- Load average (1, 5, 15 min): $LOAD_BEFORE before, $LOAD_AFTER after the measurements"
    echo "  (the machine is shared; other builds ran at the same time unless the load was below 1)"
    echo "- $SUBJECT with the virtual device library (${BUILD#"$ROOT"/}), default log level; $PEER from Debian;"
    echo "  $CEILING called directly (EVP_DigestSign/Verify with a per-thread key copy, EVP_Digest)"
    echo "- Source when the run started: $SOURCE"
    if [ $QUICK -eq 1 ]; then
        echo "- Smoke run (--quick): 5 objects, runs of 0.05 s; the figures mean nothing"
    else
        echo "- Each figure is the median of 3 runs of 1 s (2 threads: one session each, started together);"
        echo "  operations per second unless another unit is shown; the token holds 100 RSA-2048 key pairs"
        echo "  and 100 certificates besides the RSA-2048 and P-256 signing key pairs"
    fi
    echo "- Signing is the two-call form (C_SignInit, C_Sign for the length, C_Sign); attribute reading"
    echo "  asks the three lengths first, then the values; a search is C_FindObjectsInit with an empty"
    echo "  template, C_FindObjects in batches of 64 until none are left, C_FindObjectsFinal"
    echo "- C_Initialize + C_Finalize: pairs called back to back. Back to back, C_Finalize often stops"
    echo "  $SUBJECT's device monitor before its first poll; the row's note therefore also gives the time"
    echo "  of C_Finalize 0.3 s after C_Initialize, when the monitor is in its 1 s pause (a stop ends the"
    echo "  pause at once). No target applies"
    echo "- Unplug to demotion: \`zelmor-sim unplug\` while a session is logged in, then C_GetSessionInfo every"
    echo "  1 ms until the session shows a public state; bounded by the monitor's 1 s device poll"
    echo
    cat "$WORK/table.md"
    # The profile findings and before/after figures are kept by hand beside
    # the generated table, so a new run does not lose them.
    if [ $QUICK -eq 0 ] && [ -f "$ROOT/bench/analysis.md" ]; then
        echo
        cat "$ROOT/bench/analysis.md"
    fi
    echo
    echo "## Commands"
    echo
    echo '```'
    for command in "${COMMANDS[@]}"; do echo "$command"; done
    echo '```'
    echo
    echo "Temporary folders (\`$WORK\`) were removed after the run."
} >"$OUT/results.md"

cat >"$WORK/chart.gp" <<EOF
set terminal pngcairo size 1400,650 font "sans,10"
set output "$OUT/results.png"
set title "PKCS#11 operations per second (median of runs; log scale; higher is better)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set yrange [0.5:*]
set grid ytics
set key top right
set xtics rotate by -30
set datafile missing "-"
plot "$WORK/plot.dat" using 2:xtic(1) title "$SUBJECT", '' using 3 title "$PEER", '' using 4 title "$CEILING"
EOF
gnuplot "$WORK/chart.gp"
echo "== wrote $OUT/results.md and $OUT/results.png"
