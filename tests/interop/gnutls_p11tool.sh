# GnuTLS p11tool (sourced by lib.sh): tokens, (after login) private keys,
# certificate export, --test-sign; ECDSA keys need the
# standards setting; URIs carry the token fields' zero padding.
provision_rsa_credential gnutls-rsa 61
export GNUTLS_PIN="$USER_PIN"
tool() { p11tool --provider "$MODULE" "$@"; }
t "p11tool --list-tokens" 'tool --list-tokens' "Label: $TOKEN_LABEL\$" 'Manufacturer: Trevanic' "Serial: $DEVICE_SERIAL"
# p11-kit compares the whole fixed-width token fields, which the module fills
# with zero bytes: the URL printed carries %00 padding, pkcs11:token=LABEL alone matches nothing.
url=$(grep -oE "pkcs11:.*token=${TOKEN_LABEL// /%20}%00.*" "$LAST" | head -1)
t "the printed token URL carries the zero padding" '[ -n "$url" ]'
t "a hand-written pkcs11:token=... URI matches nothing" "? tool --list-all-certs 'pkcs11:token=${TOKEN_LABEL// /%20}'" '!type=cert'
limitation "GnuTLS/p11-kit URIs must carry the token fields' zero padding (copy the URL p11tool --list-tokens prints)"
t "p11tool --list-all-privkeys after login" 'tool --login --list-all-privkeys "$url"' 'object=gnutls-rsa;type=private' 'Type: Private key \(RSA-2048\)'
t "p11tool --export the certificate byte for byte" 'tool --export "$url;object=gnutls-rsa;type=cert" | openssl x509 -outform DER | cmp - gnutls-rsa.der'
t "p11tool --test-sign: sign, verify with the key's parameters and the token's public key" 'tool --login --test-sign "$url;object=gnutls-rsa;type=private"' 'Signing using RSA-SHA256\.\.\. ok' \
    'Verifying against private key parameters\.\.\. ok' 'Verifying against public key in the token\.\.\. ok'
# p11tool names the key type only in the mechanism and reads the point back.
t "standards setting off: p11tool's ECDSA request makes an RSA-2048 key" '? tool --login --generate-privkey ecdsa --label gnutls-ec-off "$url"; tool --login --list-all-privkeys "$url" | grep -A1 object=gnutls-ec-off' 'Type: Private key \(RSA-2048\)'
limitation "without the standards setting p11tool --generate-privkey ecdsa makes an RSA-2048 key (CKA_KEY_TYPE is not in the private-key template)"
standards_mode on
t "standards setting on: p11tool --generate-privkey ecdsa" 'tool --login --generate-privkey ecdsa --label gnutls-ec "$url"' 'BEGIN PUBLIC KEY'
t "p11tool --test-sign with the ECDSA key" 'tool --login --test-sign "$url;object=gnutls-ec;type=private"' 'Signing using ECDSA-SHA256\.\.\. ok' 'Verifying against public key in the token\.\.\. ok'
