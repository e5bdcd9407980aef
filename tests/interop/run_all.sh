#!/usr/bin/env bash
# Runs every interoperability scenario against the Linux module of BUILD_DIR:
# installs the applications from Debian when missing, runs the scenarios (a few
# at a time, each with its own temporary store), prints each scenario's report
# and a summary, and exits non-zero when any scenario failed.
#
# Usage: tests/interop/run_all.sh BUILD_DIR [--windows WINDOWS_BUILD_DIR] [--no-install-check]
#   --windows DIR       also read the version resource of DIR/ZelmorPKCS11Driver.dll
#   --no-install-check  skip the `cmake --install` check
# Environment: INTEROP_JOBS (scenarios at once, default 3), INTEROP_ONLY (a
# space-separated list of scenario names), INTEROP_REFERENCE=softhsm (run the
# application scenarios against SoftHSM2 instead, to check a scenario itself).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build_dir=""
windows_dir=""
install_check=1
while [ $# -gt 0 ]; do
    case $1 in
        --windows) windows_dir=${2:?}; shift 2 ;;
        --no-install-check) install_check=0; shift ;;
        *) build_dir=$1; shift ;;
    esac
done
[ -n "$build_dir" ] || { echo "usage: $0 BUILD_DIR [--windows WINDOWS_BUILD_DIR] [--no-install-check]" >&2; exit 2; }
build_dir=$(cd "$build_dir" && pwd)

packages=(opensc python3-pykcs11 python3-cryptography libengine-pkcs11-openssl openjdk-17-jdk-headless
    libnss3-tools gnutls-bin p11-kit openssl xxd zip unzip binutils openssh-client)
[ -n "$windows_dir" ] && packages+=(python3-pefile)
[ "${INTEROP_REFERENCE:-}" = softhsm ] && packages+=(softhsm2)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "== installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null ||
        { echo "FAILED: could not install ${missing[*]}" >&2; exit 1; }
fi

# name|command (paths quoted for eval).
q_here=$(printf %q "$here")
q_build=$(printf %q "$build_dir")
scenarios=(
    "pkcs11-tool|bash $q_here/pkcs11_tool.sh $q_build"
    "pykcs11|/usr/bin/python3 $q_here/pykcs11_test.py $q_build"
    "openssl-engine|bash $q_here/openssl_engine.sh $q_build"
    "java-sunpkcs11|bash $q_here/java_sunpkcs11.sh $q_build"
    "nss-tools|bash $q_here/nss_tools.sh $q_build"
    "gnutls-p11tool|bash $q_here/gnutls_p11tool.sh $q_build"
    "openssh|bash $q_here/openssh.sh $q_build"
)
[ $install_check -eq 1 ] && [ -z "${INTEROP_REFERENCE:-}" ] && scenarios+=("install-check|bash $q_here/install_check.sh $q_build")
[ -n "$windows_dir" ] && scenarios+=("version-resource|bash $q_here/version_resource.sh $(printf %q "$windows_dir")")

logs=$(mktemp -d "${TMPDIR:-/tmp}/zelmor-interop-logs.XXXXXX")
trap 'rm -rf "$logs"' EXIT
jobs_at_once=${INTEROP_JOBS:-3}
start=$(date +%s)
names=()
for entry in "${scenarios[@]}"; do
    name=${entry%%|*}
    command=${entry#*|}
    if [ -n "${INTEROP_ONLY:-}" ] && [[ " $INTEROP_ONLY " != *" $name "* ]]; then continue; fi
    names+=("$name")
    while [ "$(jobs -rp | wc -l)" -ge "$jobs_at_once" ]; do wait -n || true; done
    echo "== started $name"
    ( started=$(date +%s); eval "$command" >"$logs/$name.log" 2>&1 </dev/null; rc=$?
      echo "$rc $(( $(date +%s) - started ))" >"$logs/$name.status" ) &
done
wait

total_passed=0
total_failed=0
total_limitations=0
summary=()
failed_scenarios=()
for name in "${names[@]}"; do
    echo
    cat "$logs/$name.log"
    read -r rc seconds <"$logs/$name.status"
    # The scenario's last "NAME: P passed, F failed, L limitations" line.
    read -r p f l < <(sed -nE 's/^[a-z0-9-]+: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) limitations$/\1 \2 \3/p' \
        "$logs/$name.log" | tail -1)
    p=${p:-0} f=${f:-0} l=${l:-0}
    # A scenario that died before its summary counts as one failure.
    if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
    total_passed=$((total_passed + p)); total_failed=$((total_failed + f)); total_limitations=$((total_limitations + l))
    status=ok
    [ "$rc" -ne 0 ] && { status=FAILED; failed_scenarios+=("$name"); }
    summary+=("$(printf '  %-18s %-6s %4d passed %4d failed %3d limitations  %4ss' "$name" "$status" "$p" "$f" "$l" "$seconds")")
done

echo
echo "== interoperability summary ($(( $(date +%s) - start )) s, module ${INTEROP_REFERENCE:+reference $INTEROP_REFERENCE instead of }$build_dir/libZelmorPKCS11Driver.so)"
printf '%s\n' "${summary[@]}"
echo "interop: $total_passed passed, $total_failed failed"
if [ ${#failed_scenarios[@]} -ne 0 ]; then
    echo "FAILED scenarios: ${failed_scenarios[*]}" >&2
    exit 1
fi
