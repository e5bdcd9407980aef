#!/usr/bin/env bash
# Runs every interoperability scenario (lib.sh) against the Linux module of
# BUILD_DIR: installs the applications from Debian when missing, runs the
# scenarios (a few at a time, each with its own temporary store), prints each
# scenario's report and a summary, and exits non-zero when any scenario failed.
#
# Usage: tests/interop/run_all.sh BUILD_DIR [--windows WINDOWS_BUILD_DIR]
#   --windows DIR       also read the version resource of DIR/ZelmorPKCS11Driver.dll
# Environment: INTEROP_JOBS (scenarios at once, default 3), INTEROP_ONLY (a
# space-separated list of scenario names), KEEP_INTEROP_WORK=1 (keep the work folders).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scenarios=(pkcs11-tool pykcs11 openssl-engine java-sunpkcs11 nss-tools gnutls-p11tool openssh install-check)
packages=(opensc python3-pykcs11 python3-cryptography libengine-pkcs11-openssl openjdk-17-jdk-headless libnss3-tools
    gnutls-bin p11-kit openssl xxd zip unzip binutils openssh-client python3-pefile)
build_dir=$(cd "${1:?usage: $0 BUILD_DIR [--windows WINDOWS_BUILD_DIR]}" && pwd) || exit 2
if [ "${2:-}" = --windows ]; then windows_dir=$(cd "${3:?}" && pwd) && scenarios+=(version-resource) || exit 2; fi
source "$here/../../scripts/common.sh"
ensure_packages "${packages[@]}" || { echo "FAILED: could not install the applications" >&2; exit 1; }
logs=$(mktemp -d "${TMPDIR:-/tmp}/zelmor-interop-logs.XXXXXX")
trap 'rm -rf "$logs"' EXIT
start=$(date +%s) names=()
for name in "${scenarios[@]}"; do
    [ -z "${INTEROP_ONLY:-}" ] || [[ " $INTEROP_ONLY " == *" $name "* ]] || continue
    names+=("$name")
    while [ "$(jobs -rp | wc -l)" -ge "${INTEROP_JOBS:-3}" ]; do wait -n; done
    echo "== started $name"
    dir=$build_dir && [ "$name" = version-resource ] && dir=$windows_dir
    { bash "$here/lib.sh" "$dir" "$name" >"$logs/$name.log" 2>&1 </dev/null || echo "$name" >>"$logs/failed"; } &
done
wait
for name in "${names[@]}"; do echo && cat "$logs/$name.log"; done
echo && echo "== interoperability summary ($(( $(date +%s) - start )) s, module $build_dir/libZelmorPKCS11Driver.so)"
# Each scenario's summary line; a scenario that died before it counts as one failure.
for name in "${names[@]}"; do
    summary=$(grep -E "^$name: [0-9]+ passed, [0-9]+ failed" "$logs/$name.log" | tail -1)
    echo "  ${summary:-$name: 0 passed, 1 failed (died before its summary)}"
done | tee "$logs/summary"
awk '{p += $2; f += $4} END {printf "interop: %d passed, %d failed\n", p, f}' "$logs/summary"
[ ! -s "$logs/failed" ] || { echo "FAILED scenarios: $(xargs <"$logs/failed")" >&2; exit 1; }
