# Shared by the interoperability scenarios: a private temporary store with one
# virtual device, step and assertion helpers that keep going after a failed
# step (so one run reports every broken step), and a cleanup trap.
#
# A scenario sources this file, calls `interop_init BUILD_DIR NAME`, then
# `create_device`, runs its steps and ends with `finish`.
#
# INTEROP_REFERENCE=softhsm runs the same scenario against SoftHSM2 instead of
# the module (a reference to tell an application's quirk from a module fault).

DEVICE_SERIAL=${DEVICE_SERIAL:-ZLM0000001}
# Distinctive PINs: the secrets sweep at the end of a scenario cannot match
# them by chance.
USER_PIN=${USER_PIN:-Zq8Wx3Km}
NEW_USER_PIN=${NEW_USER_PIN:-Nw5Rt9Vb}
TOKEN_LABEL=${TOKEN_LABEL:-Interop Token}

passed=0
failed=0
limitations=0
step_number=0

# interop_workspace NAME: the scenario's work folder ($WORK, removed at exit
# unless KEEP_INTEROP_WORK=1) with the last step's output in $LAST.
interop_workspace() {
    SCENARIO=$1
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/zelmor-interop-$SCENARIO.XXXXXX")
    trap interop_cleanup EXIT
    LAST="$WORK/last-output.txt"
    mkdir -p "$WORK/steps"
}

interop_init() {
    local build_dir=${1:?usage: $0 BUILD_DIR}
    build_dir=$(cd "$build_dir" && pwd)
    interop_workspace "${2:?scenario name}"
    # The module's log goes to $TMPDIR/Trevanic/<process>/; keep it with the run.
    export TMPDIR="$WORK"
    export HOME="$WORK/home"
    mkdir -p "$HOME"
    # No CA folder unless a scenario sets one up.
    export ZELMOR_HOME="$WORK/zelmor-home"
    if is_reference; then
        MODULE=/usr/lib/softhsm/libsofthsm2.so
        export SOFTHSM2_CONF="$WORK/softhsm2.conf"
        mkdir -p "$WORK/softhsm-tokens"
        printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$WORK/softhsm-tokens" >"$SOFTHSM2_CONF"
    else
        MODULE="$build_dir/libZelmorPKCS11Driver.so"
        SIM="$build_dir/zelmor-sim"
        export ZELMOR_SIM_HOME="$WORK/store"
        # Every line logged (level 3), so the secrets sweep sees all the module writes.
        SWEEP_SECRETS=1
        export ZELMOR_CONFIG_DIR="$WORK/config"
        mkdir -p "$ZELMOR_CONFIG_DIR"
        echo 3 >"$ZELMOR_CONFIG_DIR/logLevel"
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
    if is_reference; then
        softhsm2-util --init-token --free --label "$TOKEN_LABEL" --pin "$USER_PIN" --so-pin 87654321 >/dev/null
    else
        "$SIM" create "$DEVICE_SERIAL" --pin "$USER_PIN" --label "$TOKEN_LABEL"
    fi
}

is_reference() { [ "${INTEROP_REFERENCE:-}" = softhsm ]; }

# standards_mode on|off: the module's standards setting for the application
# processes started from now on (the module reads it at C_Initialize).
standards_mode() {
    is_reference && return 0
    if [ "$1" = on ]; then echo 1 >"$ZELMOR_CONFIG_DIR/standardsMode"; else rm -f "$ZELMOR_CONFIG_DIR/standardsMode"; fi
}

pass() { passed=$((passed + 1)); echo "PASS: $1"; }

# fail DESCRIPTION [DETAIL_FILE]: counts a failure and shows the start of the
# detail file ($LAST by default).
fail() {
    failed=$((failed + 1))
    echo "FAIL: $1"
    if [ -s "${2:-$LAST}" ]; then sed -n '1,25p' "${2:-$LAST}" | sed 's/^/      | /'; fi
    return 1
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
    grep -Eq -- "$pattern" "$file" && { pass "$description"; return 0; }
    { cat "$file" 2>/dev/null; echo "      (no line matches /$pattern/)"; } >"$LAST.check"
    fail "$description" "$LAST.check"
}

# expect_outputs FILE DESCRIPTION REGEX [DESCRIPTION REGEX ...]: expect_output for each pair.
expect_outputs() {
    local file=$1
    shift
    while [ $# -ge 2 ]; do expect_output "$1" "$2" "$file"; shift 2; done
}

# expect_no_output DESCRIPTION EXTENDED-REGEX [FILE]
expect_no_output() {
    if grep -Eq -- "$2" "${3:-$LAST}"; then fail "$1 (found /$2/)"; else pass "$1"; fi
}

# expect_equal DESCRIPTION ACTUAL EXPECTED
expect_equal() {
    [ "$2" = "$3" ] && { pass "$1"; return 0; }
    printf '      expected: %s\n      actual:   %s\n' "$3" "$2" >"$LAST.check"
    fail "$1" "$LAST.check"
}

# expect_same_file DESCRIPTION FILE EXPECTED_FILE
expect_same_file() { if cmp -s "$2" "$3"; then pass "$1"; else fail "$1"; fi; }

# expect_fails DESCRIPTION COMMAND...: the command must exit non-zero.
expect_fails() {
    local description=$1
    shift
    if "$@" >"$LAST" 2>&1; then fail "$description (unexpectedly succeeded)"; else pass "$description"; fi
}

# finish: summary line and exit status of the scenario; the end of the
# module's log when a step failed and INTEROP_VERBOSE=1.
# No PIN, in clear or as hex, in the module's logs, the virtual device's
# stores or any step's output (every *.LOG and every file of a folder named
# store below $WORK, and steps/); the logs must exist, or the sweep proves
# nothing.
check_no_secrets() {
    if ! find "$WORK" -name '*.LOG' -size +0 2>/dev/null | grep -q .; then
        fail "the module wrote its log at level 3"
        return
    fi
    local pin hex patterns=() found
    for pin in "$USER_PIN" "$NEW_USER_PIN"; do
        hex=$(printf %s "$pin" | xxd -p | tr -d '\n')
        patterns+=(-e "$pin" -e "$hex" -e "${hex^^}")
    done
    found=$(find "$WORK" -type f \( -name '*.LOG' -o -path '*/store/*' -o -path "$WORK/steps/*" \) -print0 |
        xargs -0 -r grep -laF "${patterns[@]}")
    if [ -z "$found" ]; then
        pass "no PIN in the module's logs, the store or any output"
    else
        printf '%s\n' "$found" >"$LAST.check"
        fail "a PIN was found in clear or as hex" "$LAST.check"
    fi
}

finish() {
    if [ "${SWEEP_SECRETS:-0}" = 1 ]; then check_no_secrets; fi
    if [ $failed -ne 0 ] && [ "${INTEROP_VERBOSE:-0}" = 1 ]; then
        find "$WORK/Trevanic" -name '*.LOG' 2>/dev/null | while read -r log; do
            echo "   -- module log $log (last lines)"
            tail -n 30 "$log" | sed 's/^/      | /'
        done
    fi
    echo "$SCENARIO: $passed passed, $failed failed, $limitations limitations"
    [ $failed -eq 0 ]
}

# make_certificate_for PUBKEY_PEM SUBJECT_CN OUT_PEM: a certificate for a
# public key held elsewhere (on the token), issued by a self-signed test CA
# ($WORK/ca/ca.pem, made on first use).
make_certificate_for() {
    local public_key=$1 common_name=$2 out=$3
    mkdir -p "$WORK/ca"
    [ -f "$WORK/ca/ca.pem" ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/ca/ca.key" \
        -out "$WORK/ca/ca.pem" -days 30 -subj "/CN=Interop Test CA/O=Zelmor Interop" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null || return 1
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

# provision_rsa_credential LABEL ID: an RSA-2048 key pair generated on the
# token and a CA-issued certificate for it written to the token, both with
# LABEL and ID (hex): the starting point of the scenarios that use an existing
# credential. Leaves the certificate in $WORK/LABEL.pem and .der and the
# public key in $WORK/LABEL.pub.pem. Ends the scenario when that fails.
provision_rsa_credential() {
    local label=$1 id=$2
    if run_quiet p11 --login --pin "$USER_PIN" --keypairgen --key-type rsa:2048 --usage-sign --usage-decrypt \
            --label "$label" --id "$id" &&
        run_quiet p11 --read-object --type pubkey --id "$id" -o "$WORK/$label.pub.der" &&
        run_quiet openssl pkey -pubin -inform DER -in "$WORK/$label.pub.der" -out "$WORK/$label.pub.pem" &&
        make_certificate_for "$WORK/$label.pub.pem" "$label" "$WORK/$label.pem" &&
        run_quiet openssl x509 -in "$WORK/$label.pem" -outform DER -out "$WORK/$label.der" &&
        run_quiet p11 --login --pin "$USER_PIN" --write-object "$WORK/$label.der" --type cert --label "$label" --id "$id"
    then
        pass "provision an RSA key and certificate with pkcs11-tool"
    else
        fail "provision an RSA key and certificate with pkcs11-tool"
        finish
        exit 1
    fi
}
