#!/usr/bin/env bash
# The scenario library of the interoperability tests.
#
#   tests/interop/lib.sh BUILD_DIR SCENARIO
#
# runs one scenario (run_all.sh runs them all): a private work folder and
# temporary store with one virtual device, the scenario's steps (SCENARIO.sh
# with - as _, sourced; or SCENARIO.py, whose PASS/FAIL/LIMITATION lines are
# counted), and at the end a sweep: no PIN in the module's logs, the store or
# any step's output. A scenario is a list of `t` steps (one line each) that
# keep going after a failed step, so one run reports every broken step.
# KEEP_INTEROP_WORK=1 keeps the work folder (every step's output, the module's log).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Distinctive PINs: the sweep cannot match them by chance.
export DEVICE_SERIAL=ZLM0000001 USER_PIN=Zq8Wx3Km NEW_USER_PIN=Nw5Rt9Vb TOKEN_LABEL="Interop Token"
passed=0 failed=0 limitations=0 steps=0 SWEEP=0 LAST=/dev/null

# interop_workspace NAME: the work folder $WORK (removed at exit), each step's output in steps/.
interop_workspace() {
    SCENARIO=$1
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/zelmor-interop-$SCENARIO.XXXXXX")
    mkdir -p "$WORK/steps"
    trap interop_cleanup EXIT
    echo "== $SCENARIO (work folder $WORK)"
}
interop_cleanup() { if [ "${KEEP_INTEROP_WORK:-0}" = 1 ]; then echo "   (work folder kept: $WORK)"; else rm -rf "$WORK"; fi; }

# standards_mode on|off: the module's standards setting for the processes
# started from now on (the module reads it at C_Initialize).
standards_mode() { if [ "$1" = on ]; then echo 1 >"$ZELMOR_CONFIG_DIR/standardsMode"; else rm -f "$ZELMOR_CONFIG_DIR/standardsMode"; fi; }

fail() { failed=$((failed + 1)); echo "FAIL: $1"; sed -n '1,25p' "$LAST" 2>/dev/null | sed 's/^/      | /'; return 1; }
# A documented limitation of the module: printed and counted, never a failure.
limitation() { limitations=$((limitations + 1)); echo "LIMITATION: $*"; }

# t DESCRIPTION COMMAND [REGEX...]: one step. COMMAND (evaluated; its output
# in $LAST and kept under steps/) must exit 0, non-zero when it starts with
# "!", either when it starts with "?". Its output must match every REGEX, and
# must not match a REGEX written "!REGEX".
t() {
    local description=$1 command=$2 rc=0 pattern problem=""
    shift 2
    LAST="$WORK/steps/$((++steps)).txt"
    eval "${command#[?!]}" >"$LAST" 2>&1 </dev/null || rc=$?
    case ${command:0:1} in "!") [ $rc -ne 0 ] || problem="succeeded" ;; "?") ;; *) [ $rc -eq 0 ] || problem="exit status $rc" ;; esac
    for pattern in "$@"; do
        if [ "${pattern:0:1}" = "!" ]; then ! grep -Eq -- "${pattern:1}" "$LAST" || problem+=" /${pattern:1}/ found"
        else grep -Eq -- "$pattern" "$LAST" || problem+=" no /$pattern/"; fi
    done
    [ -n "$problem" ] || { passed=$((passed + 1)); echo "PASS: $description"; return 0; }
    fail "$description ($problem)"
}

# finish: the sweep (every *.LOG and store file below $WORK and every step's
# output: no PIN, in clear or as hex; and the module did write its log, or the
# sweep proves nothing), the scenario's summary line and exit status.
finish() {
    if [ "$SWEEP" = 1 ]; then
        t "the module wrote its log at level 3" 'find "$WORK" -name "*.LOG" -size +0 | grep .'
        t "no PIN in the module's logs, the store or any output" '! find "$WORK" -type f \( -name "*.LOG" -o -path "*/store/*" -o -path "$WORK/steps/*" \) -print0 | xargs -0 -r grep -laF "$(pins)"'
    fi
    echo "$SCENARIO: $passed passed, $failed failed, $limitations limitations"
    [ $failed -eq 0 ]
}
# The PINs in clear and as hex in both cases, one a line (patterns of grep -F).
pins() { for pin in "$USER_PIN" "$NEW_USER_PIN"; do printf '%s\n' "$pin" "$(printf %s "$pin" | xxd -p)" "$(printf %s "$pin" | xxd -p -u)"; done; }

# make_certificate_for PUBKEY_PEM COMMON_NAME OUT_PEM: a certificate for a key
# held on the token, issued by a test CA ($WORK/ca/ca.pem, made on first use).
make_certificate_for() (
    mkdir -p "$WORK/ca" && cd "$WORK/ca" || return 1
    [ -f ca.pem ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Interop Test CA/O=Zelmor Interop" 2>/dev/null || return 1
    openssl x509 -new -subj "/CN=$2" -force_pubkey "$1" -CA ca.pem -CAkey ca.key -days 30 -out "$3" \
        -extfile <(printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nsubjectKeyIdentifier=hash\n') 2>/dev/null
)

# pkcs11-tool bound to the module and the scenario's token; p11l logs in.
p11() { pkcs11-tool --module "$MODULE" --token-label "$TOKEN_LABEL" "$@"; }
p11l() { p11 --login --pin "$USER_PIN" "$@"; }

# provision_rsa_credential LABEL ID: an RSA-2048 key pair made on the token
# and a CA-issued certificate for it written there, both with LABEL and ID
# (hex); the certificate in $WORK/LABEL.pem and .der, the public key in
# $WORK/LABEL.pub.pem. Ends the scenario when that fails.
provision_rsa_credential() {
    local w="$WORK/$1"
    t "provision an RSA key and certificate with pkcs11-tool" "p11l --keypairgen --key-type rsa:2048 --usage-sign --usage-decrypt --label $1 --id $2 && p11 --read-object --type pubkey --id $2 -o $w.pub.der && openssl pkey -pubin -inform DER -in $w.pub.der -out $w.pub.pem && make_certificate_for $w.pub.pem $1 $w.pem && openssl x509 -in $w.pem -outform DER -out $w.der && p11l --write-object $w.der --type cert --label $1 --id $2" ||
        { finish; exit 1; }
}

# installed_module_checks MODULE ZELMOR_SIM [COMMAND PREFIX]: an installed
# module and virtual device (install_check.sh, package_check.sh): a device made
# by the installed zelmor-sim, p11-kit lists the module and its token,
# pkcs11-tool sees the device (which needs the device library beside the module).
installed_module_checks() {
    local module=$1 sim=$2
    shift 2
    t "the installed zelmor-sim creates a device" "$* $sim create $DEVICE_SERIAL --pin $USER_PIN --label '$TOKEN_LABEL'"
    t "p11-kit list-modules shows the module and its token" "$* p11-kit list-modules" "^zelmor: $module\$" 'library-description: Zelmor PKCS11 Library' \
        'library-manufacturer: Trevanic' 'library-version: 3\.6$' "token: $TOKEN_LABEL"
    t "pkcs11-tool --module lists the device's token" "$* pkcs11-tool --module $module --list-slots" "token label +: $TOKEN_LABEL" "serial num +: $DEVICE_SERIAL"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    # The module, zelmor-sim and a private store, configuration (log level 3:
    # the sweep sees every line the module writes), CA folder and home.
    BUILD_DIR=$(cd "${1:?usage: $0 BUILD_DIR SCENARIO}" && pwd) || exit 2
    interop_workspace "${2:?usage: $0 BUILD_DIR SCENARIO}"
    export TMPDIR="$WORK" HOME="$WORK/home" ZELMOR_HOME="$WORK/zelmor-home" ZELMOR_SIM_HOME="$WORK/store" \
        ZELMOR_CONFIG_DIR="$WORK/config" MODULE="$BUILD_DIR/libZelmorPKCS11Driver.so" SIM="$BUILD_DIR/zelmor-sim"
    mkdir -p "$HOME" "$ZELMOR_CONFIG_DIR" && echo 3 >"$ZELMOR_CONFIG_DIR/logLevel" && SWEEP=1
    case $SCENARIO in install-check | version-resource) ;; *) "$SIM" create "$DEVICE_SERIAL" --pin "$USER_PIN" --label "$TOKEN_LABEL" || exit 2 ;; esac
    script="$here/${SCENARIO//-/_}"
    cd "$WORK" || exit 2
    if [ -f "$script.py" ]; then
        /usr/bin/python3 -u "$script.py" 2>&1 | tee steps/python.txt
        [ "${PIPESTATUS[0]}" = 0 ] || fail "the Python scenario ran to its end"
        read -r p f l < <(awk '/^PASS:/{p++} /^FAIL:/{f++} /^LIMITATION:/{l++} END{print p+0,f+0,l+0}' steps/python.txt)
        passed=$((passed + p)) failed=$((failed + f)) limitations=$((limitations + l))
    else
        source "$script.sh"
    fi
    finish
fi
