# OpenSSH (sourced by lib.sh): ssh-keygen -D lists the token's public keys;
# ssh-agent loads the module (ssh-add -s) and signs with the token's RSA and
# (standards setting on: OpenSSH reads CKA_EC_POINT) P-256 keys, verified by
# ssh-keygen -Y verify.
t "generate an RSA and a P-256 key with pkcs11-tool" 'p11l --keypairgen --key-type rsa:2048 --usage-sign --label ssh-rsa --id 71 && p11l --keypairgen --key-type EC:prime256v1 --usage-sign --label ssh-ec --id 72'
t "standards setting off: ssh-keygen -D lists the RSA key only" 'ssh-keygen -D "$MODULE"' '^ssh-rsa ' '!^ecdsa-sha2-nistp256 '
limitation "without the standards setting OpenSSH does not see EC keys (it reads CKA_EC_POINT)"
standards_mode on
t "standards setting on: ssh-keygen -D lists both keys" 'ssh-keygen -D "$MODULE"' '^ssh-rsa ' '^ecdsa-sha2-nistp256 '
# The agent loads only modules its -P list allows; the PIN comes through SSH_ASKPASS.
printf '#!/bin/sh\necho %s\n' "$USER_PIN" >askpass && chmod 700 askpass
eval "$(ssh-agent -s -a "$WORK/agent.sock" -P "$(dirname "$MODULE")/*")" >/dev/null
trap 'status=$?; ssh-agent -k >/dev/null 2>&1; (exit $status); interop_cleanup' EXIT
t "ssh-add -s loads the module into ssh-agent" 'SSH_ASKPASS="$WORK/askpass" SSH_ASKPASS_REQUIRE=force DISPLAY=:0 ssh-add -s "$MODULE"'
t "ssh-add -L lists the token's keys" 'ssh-add -L | tee keys' '^ssh-rsa ' '^ecdsa-sha2-nistp256 '
printf 'Signed by the token through ssh-agent.\n' >message
for key in ssh-rsa ecdsa-sha2-nistp256; do
    t "ssh-keygen -Y sign with the token's $key key, -Y verify" "grep '^$key ' keys >key.pub && rm -f message.sig && ssh-keygen -Y sign -f key.pub -n file message && echo \"signer \$(cat key.pub)\" >allowed && ssh-keygen -Y verify -f allowed -I signer -n file -s message.sig <message" '^Good "file" signature'
done
