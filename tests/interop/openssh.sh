#!/usr/bin/env bash
# OpenSSH: ssh-keygen -D lists the token's public keys; ssh-agent loads the
# module (ssh-add -s) and signs with the token's RSA and EC keys
# (ssh-keygen -Y sign), verified by ssh-keygen -Y verify. EC keys need the
# module's standards setting (OpenSSH reads CKA_EC_POINT).
# Usage: openssh.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh"
interop_init "${1:-}" openssh
create_device || exit 2
echo "   $(ssh -V 2>&1)"

run_quiet p11 --login --pin "$USER_PIN" --keypairgen --key-type rsa:2048 --usage-sign --label ssh-rsa --id 71 &&
    run_quiet p11 --login --pin "$USER_PIN" --keypairgen --key-type EC:prime256v1 --usage-sign --label ssh-ec --id 72 ||
    fail "generate an RSA and a P-256 key with pkcs11-tool"

if ! is_reference; then
    run "ssh-keygen -D (standards setting off)" ssh-keygen -D "$MODULE"
    expect_output "the RSA key is listed" '^ssh-rsa '
    expect_no_output "the EC key is not (no CKA_EC_POINT)" '^ecdsa-sha2-nistp256 '
    limitation "without the standards setting OpenSSH does not see EC keys (it reads CKA_EC_POINT)"
fi
standards_mode on
run "ssh-keygen -D (standards setting on)" ssh-keygen -D "$MODULE" &&
    expect_outputs "$LAST" "the RSA key is listed" '^ssh-rsa ' "the P-256 key is listed" '^ecdsa-sha2-nistp256 '

# The agent loads the module (it only loads modules its -P list allows) and
# asks for the PIN through SSH_ASKPASS.
printf '#!/bin/sh\necho %s\n' "$USER_PIN" >"$WORK/askpass" && chmod 700 "$WORK/askpass"
export SSH_AUTH_SOCK="$WORK/agent.sock"
ssh-agent -a "$SSH_AUTH_SOCK" -P "$(dirname "$MODULE")/*" -D >/dev/null 2>&1 &
agent_pid=$!
trap 'status=$?; kill "$agent_pid" 2>/dev/null; (exit $status); interop_cleanup' EXIT
for _ in $(seq 50); do [ -S "$SSH_AUTH_SOCK" ] && break; sleep 0.1; done
if run "ssh-add -s loads the module into ssh-agent" env SSH_ASKPASS="$WORK/askpass" SSH_ASKPASS_REQUIRE=force \
    DISPLAY=:0 ssh-add -s "$MODULE"; then
    run "ssh-add -L lists the token's keys" ssh-add -L
    grep '^ssh-rsa ' "$LAST" >"$WORK/rsa.pub"
    grep '^ecdsa-sha2-nistp256 ' "$LAST" >"$WORK/ec.pub"
    printf 'Signed by the token through ssh-agent.\n' >"$WORK/message"
    for key in rsa ec; do
        rm -f "$WORK/message.sig"
        if run "ssh-keygen -Y sign with the token's $key key" ssh-keygen -Y sign -f "$WORK/$key.pub" -n file "$WORK/message"; then
            printf 'signer %s\n' "$(cat "$WORK/$key.pub")" >"$WORK/allowed"
            run "ssh-keygen -Y verify accepts the $key signature" ssh-keygen -Y verify -f "$WORK/allowed" -I signer \
                -n file -s "$WORK/message.sig" <"$WORK/message" && expect_output "good signature" '^Good "file" signature'
        fi
    done
fi
standards_mode off

finish
