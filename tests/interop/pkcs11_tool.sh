#!/usr/bin/env bash
# OpenSC pkcs11-tool against the module and one virtual device: information,
# login, key generation, signing and verification, RSA encryption, hashing,
# random bytes, certificate writing, PIN change, new ID, deletion.
# Usage: pkcs11_tool.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh"
interop_init "${1:-}" pkcs11-tool
create_device || exit 2

echo "   OpenSC pkcs11-tool $(dpkg-query -W -f="\${Version}" opensc)"
data="$WORK/data.txt"
printf 'The quick brown fox jumps over the lazy dog, signed on the token.\n' >"$data"

# --- information --------------------------------------------------------------
if run "show module information (-I)" pkcs11-tool --module "$MODULE" --show-info && ! is_reference; then
    expect_outputs "$LAST" "module manufacturer is Trevanic" 'Manufacturer +Trevanic' \
        "library description and version 3.6" 'Library +Zelmor PKCS11 Library \(ver 3\.6\)' \
        "Cryptoki version 2.20" 'Cryptoki version 2\.20'
fi
if run "list slots (-L)" pkcs11-tool --module "$MODULE" --list-slots; then
    expect_output "token label shown" "token label +: $TOKEN_LABEL\$"
    is_reference || expect_outputs "$LAST" "slot 0x50000001" '\(0x50000001\)' \
        "token serial shown" "serial num +: $DEVICE_SERIAL" "token manufacturer Trevanic" 'token manufacturer +: Trevanic' \
        "login required flag" 'login required'
fi
if run "list mechanisms (-M)" p11 --list-mechanisms; then
    mechanisms=(RSA-PKCS-KEY-PAIR-GEN 'RSA-PKCS,' SHA256-RSA-PKCS ECDSA-KEY-PAIR-GEN 'ECDSA,' 'SHA256,')
    is_reference || mechanisms+=(ECDSA-SHA256 SHA384-RSA-PKCS ECDSA-SHA384)
    for mechanism in "${mechanisms[@]}"; do
        expect_output "mechanism ${mechanism%,} listed" "^ *${mechanism}"
    done
fi

# --- login ---------------------------------------------------------------------
run "login with the right PIN" p11 --login --pin "$USER_PIN" --list-objects
expect_fails "login with a wrong PIN is refused" p11 --login --pin 00000000 --list-objects
expect_output "wrong PIN reported as CKR_PIN_INCORRECT" 'CKR_PIN_INCORRECT'

# --- key generation ----------------------------------------------------------------
run "generate an RSA-2048 key pair" p11 --login --pin "$USER_PIN" --keypairgen --key-type rsa:2048 \
    --usage-sign --usage-decrypt --label rsa-key --id 01 &&
    expect_outputs "$LAST" "RSA-2048 public key reported" 'RSA 2048 bits' "RSA private key reported" 'Private Key Object; RSA'
run "generate a P-256 key pair" p11 --login --pin "$USER_PIN" --keypairgen --key-type EC:prime256v1 \
    --usage-sign --label ec-key --id 02 &&
    expect_outputs "$LAST" "EC private key reported" 'Private Key Object; EC' \
        "EC parameters are P-256" 'EC_PARAMS: +06082a8648ce3d030107|prime256v1'
run "list objects after login" p11 --login --pin "$USER_PIN" --list-objects
expect_outputs "$LAST" "RSA private key with its label" 'label: +rsa-key' "EC key with its label" 'label: +ec-key' \
    "key IDs 01 and 02" 'ID: +02'
run "list objects without login" p11 --list-objects
expect_no_output "private keys hidden before login" 'Private Key Object'

run "read the RSA public key" p11 --read-object --type pubkey --id 01 -o "$WORK/rsa.pub.der"
run "RSA public key parses as SubjectPublicKeyInfo" openssl pkey -pubin -inform DER -in "$WORK/rsa.pub.der" -out "$WORK/rsa.pub.pem"
# An EC public key is exported from CKA_EC_POINT, which the module gives only
# under its standards setting.
if ! is_reference; then
    expect_fails "EC public key export needs CKA_EC_POINT (standards setting off)" p11 --read-object --type pubkey --id 02 -o "$WORK/ec.pub.der"
    limitation "without the standards setting pkcs11-tool cannot export an EC public key: the point is in CKA_VALUE, CKA_EC_POINT is empty"
fi
standards_mode on
run "read the EC public key (standards setting on)" p11 --read-object --type pubkey --id 02 -o "$WORK/ec.pub.der" &&
    run "EC public key parses as a P-256 SubjectPublicKeyInfo" openssl pkey -pubin -inform DER -in "$WORK/ec.pub.der" -out "$WORK/ec.pub.pem" &&
    run_quiet openssl pkey -pubin -in "$WORK/ec.pub.pem" -noout -text && expect_output "curve P-256" 'NIST CURVE: P-256'
standards_mode off

# --- signing and verification ------------------------------------------------------
if run "sign with SHA256-RSA-PKCS" p11 --login --pin "$USER_PIN" --sign -m SHA256-RSA-PKCS --id 01 \
    -i "$data" -o "$WORK/sha256-rsa.sig"; then
    run "openssl verifies the SHA256-RSA-PKCS signature" openssl dgst -sha256 -verify "$WORK/rsa.pub.pem" \
        -signature "$WORK/sha256-rsa.sig" "$data"
    expect_output "openssl says Verified OK" '^Verified OK'
    run "pkcs11-tool verifies the signature on the token" p11 --login --pin "$USER_PIN" --verify -m SHA256-RSA-PKCS \
        --id 01 -i "$data" --signature-file "$WORK/sha256-rsa.sig"
    expect_output "token says the signature is valid" 'Signature is valid'
    cp "$WORK/sha256-rsa.sig" "$WORK/bad.sig"
    printf '\x00' | dd of="$WORK/bad.sig" bs=1 seek=100 conv=notrunc 2>/dev/null
    # pkcs11-tool exits 0 either way; it says which.
    run_quiet p11 --login --pin "$USER_PIN" --verify -m SHA256-RSA-PKCS --id 01 -i "$data" --signature-file "$WORK/bad.sig"
    expect_output "a damaged signature is rejected by the token" '^Invalid signature'
fi

# RSA-PKCS over a DigestInfo made outside the token: the classic raw use.
{ printf '\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20'; openssl dgst -sha256 -binary "$data"; } >"$WORK/digestinfo.bin"
if run "sign a DigestInfo with RSA-PKCS" p11 --login --pin "$USER_PIN" --sign -m RSA-PKCS --id 01 \
    -i "$WORK/digestinfo.bin" -o "$WORK/rsa-pkcs.sig"; then
    run "openssl verifies the RSA-PKCS signature as SHA-256" openssl dgst -sha256 -verify "$WORK/rsa.pub.pem" \
        -signature "$WORK/rsa-pkcs.sig" "$data"
    expect_output "openssl says Verified OK" '^Verified OK'
fi

# SoftHSM2 offers only raw ECDSA; the module also the hashing variants.
ecdsa=ECDSA-SHA256
is_reference && ecdsa=ECDSA
if run "sign with $ecdsa" p11 --login --pin "$USER_PIN" --sign -m $ecdsa --id 02 \
    -i "$data" -o "$WORK/ecdsa.sig"; then
    expect_equal "ECDSA P-256 signature is r||s, 64 bytes" "$(stat -c %s "$WORK/ecdsa.sig")" 64
    run "pkcs11-tool verifies the ECDSA signature on the token" p11 --login --pin "$USER_PIN" --verify -m $ecdsa \
        --id 02 -i "$data" --signature-file "$WORK/ecdsa.sig"
    expect_output "token says the ECDSA signature is valid" 'Signature is valid'
    run "sign with $ecdsa in OpenSSL (DER) format" p11 --login --pin "$USER_PIN" --sign -m $ecdsa --id 02 \
        -f openssl -i "$data" -o "$WORK/ecdsa.der.sig"
    openssl asn1parse -inform DER -in "$WORK/ecdsa.der.sig" >"$LAST" 2>&1
    expect_output "DER signature is a SEQUENCE of two INTEGERs" 'INTEGER'
    # The exported public key is the token's: it verifies the token's signature.
    is_reference || run "openssl verifies the token's ECDSA signature with the exported EC public key" \
        openssl dgst -sha256 -verify "$WORK/ec.pub.pem" -signature "$WORK/ecdsa.der.sig" "$data"
fi

# --- encryption and decryption ---------------------------------------------------
printf 'secret message for the token' >"$WORK/plain.txt"
if run "encrypt with openssl under the token's public key" openssl pkeyutl -encrypt -pubin -inkey "$WORK/rsa.pub.pem" \
    -pkeyopt rsa_padding_mode:pkcs1 -in "$WORK/plain.txt" -out "$WORK/openssl.enc"; then
    run "decrypt on the token with RSA-PKCS" p11 --login --pin "$USER_PIN" --decrypt -m RSA-PKCS --id 01 \
        -i "$WORK/openssl.enc" -o "$WORK/decrypted.txt"
    expect_equal "decrypted text matches" "$(cat "$WORK/decrypted.txt" 2>/dev/null)" "$(cat "$WORK/plain.txt")"
fi
# pkcs11-tool 0.23 encrypts with secret keys only ("Secret key not found" for
# an RSA key); C_Encrypt with the RSA public key is covered by PyKCS11.

# --- hash and random ---------------------------------------------------------------
# The module digests only in a read-write or logged-in session.
if ! is_reference; then
    run_quiet p11 --hash -m SHA256 -i "$data" -o "$WORK/hash0.bin"
    expect_output "hash in a read-only public session is refused" 'C_DigestInit failed: rv = CKR_SESSION_HANDLE_INVALID'
    limitation "digesting needs a read-write or logged-in session: pkcs11-tool --hash needs --session-rw or --login (a read-only public session gets CKR_SESSION_HANDLE_INVALID)"
fi
if run "hash with SHA256 (read-write session)" p11 --session-rw --hash -m SHA256 -i "$data" -o "$WORK/hash.bin"; then
    expect_equal "SHA-256 matches sha256sum" "$(xxd -p "$WORK/hash.bin" | tr -d '\n')" "$(sha256sum "$data" | cut -d' ' -f1)"
fi
if run "hash with SHA-1 (logged in)" p11 --login --pin "$USER_PIN" --hash -m SHA-1 -i "$data" -o "$WORK/hash1.bin"; then
    expect_equal "SHA-1 matches sha1sum" "$(xxd -p "$WORK/hash1.bin" | tr -d '\n')" "$(sha1sum "$data" | cut -d' ' -f1)"
fi
if run "generate 48 random bytes" p11 --generate-random 48 -o "$WORK/random.bin"; then
    expect_equal "48 random bytes written" "$(stat -c %s "$WORK/random.bin")" 48
    run_quiet p11 --generate-random 48 -o "$WORK/random2.bin"
    if cmp -s "$WORK/random.bin" "$WORK/random2.bin"; then fail "two random draws differ"; else pass "two random draws differ"; fi
fi

# --- certificate ---------------------------------------------------------------------
if make_certificate_for "$WORK/rsa.pub.pem" "rsa-key" "$WORK/rsa-key.pem" &&
    openssl x509 -in "$WORK/rsa-key.pem" -outform DER -out "$WORK/rsa-key.der"; then
    # The module imports the issuing CA from the CA folder along with the certificate.
    is_reference || { mkdir -p "$ZELMOR_HOME/ZelmorDSC/Certificates" && cp "$WORK/ca/ca.pem" "$ZELMOR_HOME/ZelmorDSC/Certificates/"; }
    run "write a certificate" p11 --login --pin "$USER_PIN" --write-object "$WORK/rsa-key.der" --type cert \
        --label rsa-key --id 01
    run "list certificates" p11 --list-objects --type cert
    expect_outputs "$LAST" "certificate object listed" 'Certificate Object; type = X.509 cert' \
        "certificate subject shown" 'subject: +DN: CN=rsa-key'
    if ! is_reference; then
        expect_output "issuing CA imported from the CA folder, labelled with its common name" 'label: +Interop Test CA'
        run "delete the CA certificate by label" p11 --login --pin "$USER_PIN" --delete-object --type cert --label "Interop Test CA"
    fi
    run "read the certificate back" p11 --read-object --type cert --id 01 -o "$WORK/readback.der"
    expect_same_file "certificate read back byte for byte" "$WORK/readback.der" "$WORK/rsa-key.der"
else
    fail "make a certificate for the token's RSA key"
fi

# --- PIN change -----------------------------------------------------------------------
new_pin=$NEW_USER_PIN
if run "change the user PIN" p11 --login --pin "$USER_PIN" --change-pin --new-pin "$new_pin"; then
    run "login with the new PIN" p11 --login --pin "$new_pin" --list-objects --type privkey
    expect_output "private keys visible with the new PIN" 'Private Key Object'
    expect_fails "the old PIN is refused" p11 --login --pin "$USER_PIN" --list-objects
    run "change the PIN back" p11 --login --pin "$new_pin" --change-pin --new-pin "$USER_PIN"
fi
# A wrong PIN above used tries; the device must not be locked by this scenario.
run "login with the original PIN again" p11 --login --pin "$USER_PIN" --list-objects --type privkey

# --- relabel / new ID -------------------------------------------------------------------
if run "set a new ID on the RSA private key" p11 --login --pin "$USER_PIN" --set-id 0a --id 01 --type privkey; then
    run "list keys after the ID change" p11 --login --pin "$USER_PIN" --list-objects --type privkey
    expect_output "key now has ID 0a" 'ID: +0a'
    if ! is_reference; then
        run "list public keys after the ID change" p11 --list-objects --type pubkey
        expect_output "the public key follows its key pair (ID 0a)" 'ID: +0a'
    fi
fi
limitation "pkcs11-tool 0.23 has no option to change a label (only --set-id); relabelling is tested with PyKCS11"

# --- deletion -----------------------------------------------------------------------------
if ! is_reference; then
    expect_fails "deleting a public key alone is refused" p11 --login --pin "$USER_PIN" --delete-object --type pubkey --id 02
    limitation "a key pair is deleted through its private key; deleting only the public key is refused (CKR_OBJECT_HANDLE_INVALID)"
fi
run "delete the EC private key" p11 --login --pin "$USER_PIN" --delete-object --type privkey --id 02
is_reference && run_quiet p11 --login --pin "$USER_PIN" --delete-object --type pubkey --id 02
run "delete the certificate" p11 --login --pin "$USER_PIN" --delete-object --type cert --id 01
run "list objects after deletion" p11 --login --pin "$USER_PIN" --list-objects
expect_no_output "EC key pair gone" 'ec-key'
expect_no_output "certificate gone" 'Certificate Object'
expect_output "RSA key still there" 'label: +rsa-key'
if ! is_reference && run "zelmor-sim shows one key pair left" "$SIM" list; then
    expect_output "device lists 1 key pair and 0 certificates" "^$DEVICE_SERIAL .* key pairs 1/[0-9]+ +certificates 0/"
fi

finish
