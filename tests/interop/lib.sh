# Shared by the interoperability scenarios: a private temporary store with one
# virtual device, step and assertion helpers that keep going after a failed
# step (so one run reports every broken step), and a cleanup trap.
#
# A scenario sources this file, calls `interop_init BUILD_DIR NAME`, then
# `create_device`, runs its steps and ends with `finish`.
#
# INTEROP_REFERENCE=softhsm runs the same scenario against SoftHSM2 instead of
# the module (a reference to tell an application's quirk from a module fault).

INTEROP_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEVICE_SERIAL=${DEVICE_SERIAL:-ZLM0000001}
USER_PIN=${USER_PIN:-12345678}
TOKEN_LABEL=${TOKEN_LABEL:-Interop Token}
SO_PIN=87654321

passed=0
failed=0
limitations=0
step_number=0

interop_init() {
    local build_dir=${1:?usage: $0 BUILD_DIR}
    SCENARIO=${2:?scenario name}
    build_dir=$(cd "$build_dir" && pwd)
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/zelmor-interop-$SCENARIO.XXXXXX")
    trap interop_cleanup EXIT
    LAST="$WORK/last-output.txt"
    mkdir -p "$WORK/steps"
    # The module's log goes to $TMPDIR/Trevanic/<process>/; keep it with the run.
    export TMPDIR="$WORK"
    export HOME="$WORK/home"
    mkdir -p "$HOME"
    # No CA folder unless a scenario sets one up.
    export ZELMOR_HOME="$WORK/zelmor-home"
    if [ "${INTEROP_REFERENCE:-}" = softhsm ]; then
        MODULE=/usr/lib/softhsm/libsofthsm2.so
        export SOFTHSM2_CONF="$WORK/softhsm2.conf"
        mkdir -p "$WORK/softhsm-tokens"
        printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$WORK/softhsm-tokens" >"$SOFTHSM2_CONF"
    else
        MODULE="$build_dir/libZelmorPKCS11Driver.so"
        SIM="$build_dir/zelmor-sim"
        export ZELMOR_SIM_HOME="$WORK/store"
        for file in "$MODULE" "$build_dir/libZelmorDSCLibrary.so" "$SIM"; do
            [ -e "$file" ] || { echo "FAIL: $file is missing (build first)"; exit 2; }
        done
    fi
    echo "== $SCENARIO against $MODULE (work folder $WORK)"
}

interop_cleanup() {
    local rc=$?
    if [ "${KEEP_INTEROP_WORK:-0}" = 1 ] || { [ $rc -ne 0 ] && [ "${KEEP_INTEROP_WORK_ON_FAILURE:-0}" = 1 ]; }; then
        echo "   (work folder kept: $WORK)"
    else
        rm -rf "$WORK"
    fi
    return $rc
}

# Creates the scenario's device (or the SoftHSM2 reference token).
create_device() {
    if [ "${INTEROP_REFERENCE:-}" = softhsm ]; then
        softhsm2-util --init-token --free --label "$TOKEN_LABEL" --pin "$USER_PIN" --so-pin "$SO_PIN" >/dev/null
    else
        "$SIM" create "$DEVICE_SERIAL" --pin "$USER_PIN" --label "$TOKEN_LABEL"
    fi
}

is_reference() { [ "${INTEROP_REFERENCE:-}" = softhsm ]; }

pass() { passed=$((passed + 1)); echo "PASS: $1"; }

fail() {
    failed=$((failed + 1))
    echo "FAIL: $1"
    if [ -s "$LAST" ]; then sed -n '1,25p' "$LAST" | sed 's/^/      | /'; fi
}

# A documented limitation of the module: printed and counted, never a failure.
limitation() { limitations=$((limitations + 1)); echo "LIMITATION: $*"; }

# run DESCRIPTION COMMAND...: runs the command with its output in $LAST (also
# kept under steps/) and passes when it exits 0. Returns the command's status.
run() {
    local description=$1
    shift
    step_number=$((step_number + 1))
    local rc=0
    "$@" >"$LAST" 2>&1 || rc=$?
    cp "$LAST" "$WORK/steps/$(printf %02d "$step_number").txt"
    if [ $rc -eq 0 ]; then pass "$description"; else echo "      (exit status $rc)" >>"$LAST"; fail "$description"; fi
    return $rc
}

# run_quiet COMMAND...: a preparation command that is not a step of its own.
run_quiet() { "$@" >"$LAST" 2>&1; }

# expect_output DESCRIPTION EXTENDED-REGEX [FILE]: the output ($LAST by default) matches.
expect_output() {
    local description=$1 pattern=$2 file=${3:-$LAST}
    if grep -Eq -- "$pattern" "$file"; then pass "$description"; else
        cp "$file" "$LAST.check" 2>/dev/null || true
        echo "      (no line matches /$pattern/)" >>"$LAST.check"
        local saved=$LAST; LAST="$LAST.check"; fail "$description"; LAST=$saved
        return 1
    fi
}

# expect_no_output DESCRIPTION EXTENDED-REGEX [FILE]
expect_no_output() {
    local description=$1 pattern=$2 file=${3:-$LAST}
    if grep -Eq -- "$pattern" "$file"; then fail "$description (found /$pattern/)"; return 1; else pass "$description"; fi
}

# expect_equal DESCRIPTION ACTUAL EXPECTED
expect_equal() {
    if [ "$2" = "$3" ]; then pass "$1"; else
        echo "      expected: $3" >"$LAST.check"; echo "      actual:   $2" >>"$LAST.check"
        local saved=$LAST; LAST="$LAST.check"; fail "$1"; LAST=$saved
        return 1
    fi
}

# expect_fails DESCRIPTION COMMAND...: the command must exit non-zero.
expect_fails() {
    local description=$1
    shift
    if "$@" >"$LAST" 2>&1; then fail "$description (unexpectedly succeeded)"; return 1; else pass "$description"; fi
}

# Last lines of the module's diagnostic logs, for a failure report.
show_module_log() {
    find "$WORK/Trevanic" -name '*.LOG' 2>/dev/null | while read -r log; do
        echo "   -- module log $log (last lines)"
        tail -n "${1:-15}" "$log" | sed 's/^/      | /'
    done
}

# finish: summary line and exit status of the scenario.
finish() {
    if [ $failed -ne 0 ] && [ "${INTEROP_VERBOSE:-0}" = 1 ]; then show_module_log 30; fi
    echo "$SCENARIO: $passed passed, $failed failed, $limitations limitations"
    [ $failed -eq 0 ]
}

# A self-signed CA and a certificate for a public key held elsewhere (on the
# token): make_certificate_for PUBKEY_PEM SUBJECT_CN OUT_PEM.
make_ca() {
    [ -f "$WORK/ca/ca.pem" ] && return 0
    mkdir -p "$WORK/ca"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/ca/ca.key" -out "$WORK/ca/ca.pem" \
        -days 30 -subj "/CN=Interop Test CA/O=Zelmor Interop" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}

make_certificate_for() {
    local public_key=$1 common_name=$2 out=$3
    make_ca
    # The request is signed by a throw-away key; -force_pubkey puts the
    # token's public key into the certificate.
    openssl req -new -newkey rsa:2048 -nodes -keyout "$WORK/ca/throwaway.key" -subj "/CN=$common_name" \
        -out "$WORK/ca/request.csr" 2>/dev/null &&
    openssl x509 -req -in "$WORK/ca/request.csr" -CA "$WORK/ca/ca.pem" -CAkey "$WORK/ca/ca.key" \
        -CAcreateserial -days 30 -force_pubkey "$public_key" -out "$out" \
        -extfile <(printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nsubjectKeyIdentifier=hash\n') 2>/dev/null
}

# pkcs11-tool bound to the module and the scenario's token.
p11() { pkcs11-tool --module "$MODULE" --token-label "$TOKEN_LABEL" "$@"; }

# Puts an RSA-2048 key pair generated on the token and a CA-issued certificate
# for it on the token, both with LABEL and ID (hex): the starting point of the
# scenarios that use an existing credential. Leaves the certificate in
# $WORK/LABEL.pem and the public key in $WORK/LABEL.pub.pem.
provision_rsa_credential() {
    local label=$1 id=$2
    run_quiet p11 --login --pin "$USER_PIN" --keypairgen --key-type rsa:2048 --usage-sign --usage-decrypt \
        --label "$label" --id "$id" || { cat "$LAST"; return 1; }
    run_quiet p11 --read-object --type pubkey --id "$id" -o "$WORK/$label.pub.der" || { cat "$LAST"; return 1; }
    openssl pkey -pubin -inform DER -in "$WORK/$label.pub.der" -out "$WORK/$label.pub.pem" || return 1
    make_certificate_for "$WORK/$label.pub.pem" "$label" "$WORK/$label.pem" || return 1
    openssl x509 -in "$WORK/$label.pem" -outform DER -out "$WORK/$label.der"
    run_quiet p11 --login --pin "$USER_PIN" --write-object "$WORK/$label.der" --type cert \
        --label "$label" --id "$id" || { cat "$LAST"; return 1; }
}
