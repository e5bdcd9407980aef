#!/usr/bin/env bash
# OpenSSL with the PKCS#11 engine (libp11): pkeyutl and dgst sign with a key on
# the token addressed by a pkcs11: URI; plain openssl verifies. Also a
# self-signed certificate made by `openssl req` with the token's key.
# Usage: openssl_engine.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh"
interop_init "${1:-}" openssl-engine
create_device || exit 2
echo "   $(openssl version) with libengine-pkcs11-openssl $(dpkg-query -W -f='${Version}' libengine-pkcs11-openssl)"

# The engine finds the module through this variable (or MODULE_PATH in openssl.cnf).
export PKCS11_MODULE_PATH="$MODULE"
engine=(-engine pkcs11 -keyform engine)
token_uri="pkcs11:token=${TOKEN_LABEL// /%20}"
rsa_uri="$token_uri;object=ossl-rsa;type=private;pin-value=$USER_PIN"
data="$WORK/data.txt"
printf 'Signed by OpenSSL through the PKCS#11 engine.\n' >"$data"

provision_rsa_credential ossl-rsa 31
pub="$WORK/ossl-rsa.pub.pem"

run "engine loads (openssl engine -t pkcs11)" openssl engine -t pkcs11
expect_output "engine available" '\[ available \]'

# pkeyutl over a SHA-256 hash: the engine hands the token a DigestInfo with CKM_RSA_PKCS.
openssl dgst -sha256 -binary -out "$WORK/data.sha256" "$data"
if run "openssl pkeyutl -sign with the token key" openssl pkeyutl "${engine[@]}" -sign -inkey "$rsa_uri" \
    -pkeyopt digest:sha256 -in "$WORK/data.sha256" -out "$WORK/pkeyutl.sig"; then
    run "plain openssl pkeyutl -verify" openssl pkeyutl -verify -pubin -inkey "$pub" -pkeyopt digest:sha256 \
        -in "$WORK/data.sha256" -sigfile "$WORK/pkeyutl.sig"
    expect_output "Signature Verified Successfully" 'Signature Verified Successfully'
fi

if run "openssl dgst -sha256 -sign with the token key" openssl dgst -sha256 "${engine[@]}" -sign "$rsa_uri" \
    -out "$WORK/dgst.sig" "$data"; then
    run "plain openssl dgst -verify" openssl dgst -sha256 -verify "$pub" -signature "$WORK/dgst.sig" "$data"
    expect_output "Verified OK" '^Verified OK'
    # A changed message must not verify: the check is not a rubber stamp.
    printf 'tampered' >>"$data"
    expect_fails "a changed message does not verify" openssl dgst -sha256 -verify "$pub" -signature "$WORK/dgst.sig" "$data"
fi

if run "openssl dgst -sha384 -sign with the token key" openssl dgst -sha384 "${engine[@]}" -sign "$rsa_uri" \
    -out "$WORK/dgst384.sig" "$data"; then
    run "plain openssl verifies the SHA-384 signature" openssl dgst -sha384 -verify "$pub" -signature "$WORK/dgst384.sig" "$data"
    expect_output "Verified OK" '^Verified OK'
fi

if run "openssl req -x509 with the token key" openssl req -new -x509 "${engine[@]}" -key "$rsa_uri" -sha256 \
    -subj "/CN=Self-signed on the token" -days 7 -out "$WORK/self.pem"; then
    run "the self-signed certificate verifies" openssl verify -CAfile "$WORK/self.pem" "$WORK/self.pem"
    expect_output "certificate OK" ': OK$'
fi

run_quiet openssl pkeyutl -encrypt -pubin -inkey "$pub" -in "$WORK/data.sha256" -out "$WORK/secret.enc"
run "RSA decryption through the engine (pkeyutl -decrypt)" openssl pkeyutl -decrypt "${engine[@]}" -inkey "$rsa_uri" \
    -in "$WORK/secret.enc" -out "$WORK/secret.dec" &&
    expect_same_file "decrypted bytes are the plaintext" "$WORK/secret.dec" "$WORK/data.sha256"

# EC: generate on the token, sign through the engine.
ec_uri="$token_uri;object=ossl-ec;type=private;pin-value=$USER_PIN"
run_quiet p11 --login --pin "$USER_PIN" --keypairgen --key-type EC:prime256v1 --usage-sign --label ossl-ec --id 32 ||
    fail "generate an EC key with pkcs11-tool"
if run "openssl dgst -sign with the token's EC key" openssl dgst -sha256 "${engine[@]}" -sign "$ec_uri" \
    -out "$WORK/ec.sig" "$data" && ! is_reference; then
    # The engine writes a DER signature; the token verifies r||s (SoftHSM2 has
    # no ECDSA-SHA256 to verify with).
    openssl asn1parse -inform DER -in "$WORK/ec.sig" | sed -nE 's/.*INTEGER +:([0-9A-F]+).*/\1/p' |
        while read -r half; do printf '%064s' "$half" | tr ' ' 0; done | xxd -r -p >"$WORK/ec.rs.sig"
    run "pkcs11-tool verifies the engine's ECDSA signature on the token" p11 --verify -m ECDSA-SHA256 --id 32 \
        -i "$data" --signature-file "$WORK/ec.rs.sig"
    expect_output "Signature is valid" 'Signature is valid'
fi

# openssl req takes the certificate's public key from CKA_EC_POINT, which the
# module gives only under its standards setting.
if ! is_reference; then
    run_quiet openssl req -new -x509 "${engine[@]}" -key "$ec_uri" -sha256 -subj "/CN=EC default" -days 7 -out "$WORK/ec-default.pem"
    expect_equal "standards setting off: openssl req writes a certificate with an empty EC public key" \
        "$(openssl x509 -in "$WORK/ec-default.pem" -noout -pubkey 2>/dev/null)" ""
    limitation "without the standards setting openssl req with an EC token key exits 0 but writes an empty public key"
fi
standards_mode on
if run "openssl req -x509 with the token's EC key (standards setting on)" openssl req -new -x509 "${engine[@]}" \
    -key "$ec_uri" -sha256 -subj "/CN=EC on the token" -days 7 -out "$WORK/ec-self.pem"; then
    run "the EC certificate verifies" openssl verify -CAfile "$WORK/ec-self.pem" "$WORK/ec-self.pem"
    expect_output "certificate OK" ': OK$'
    if run "pkcs11-tool reads the token's EC public key" p11 --read-object --type pubkey --id 32 -o "$WORK/ec.pub.der"; then
        openssl x509 -in "$WORK/ec-self.pem" -noout -pubkey | openssl pkey -pubin -outform DER -out "$WORK/ec-cert.pub.der"
        expect_same_file "the certificate's public key is the token's point" "$WORK/ec-cert.pub.der" "$WORK/ec.pub.der"
    fi
fi
standards_mode off

finish
