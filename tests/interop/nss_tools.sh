#!/usr/bin/env bash
# NSS tools: modutil adds the module to a fresh database; certutil lists the
# token's certificate and, after login, its keys; cmsutil signs a message with
# the token's key and plain openssl verifies the CMS signature.
# Usage: nss_tools.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh"
interop_init "${1:-}" nss-tools
create_device || exit 2
echo "   NSS tools $(dpkg-query -W -f='${Version}' libnss3-tools)"

provision_rsa_credential nss-cert 51

db="sql:$WORK/nssdb"
mkdir -p "$WORK/nssdb"
printf '%s\n' "$USER_PIN" >"$WORK/pinfile"
run "certutil -N creates a fresh database" certutil -N -d "$db" --empty-password
run "modutil -add the module" modutil -dbdir "$db" -add "Zelmor" -libfile "$MODULE" -force &&
    expect_output "module added" 'Module "Zelmor" added to database'
if run "modutil -list shows the module and its token" modutil -dbdir "$db" -list Zelmor; then
    expect_outputs "$LAST" "library path" "Library file: $MODULE" "token label" "Token Name: $TOKEN_LABEL"
    is_reference || expect_output "manufacturer" 'Manufacturer: Trevanic'
fi

run "certutil -L -h token" certutil -L -d "$db" -h "$TOKEN_LABEL" -f "$WORK/pinfile" &&
    expect_output "token certificate listed" "^$TOKEN_LABEL:nss-cert +u,u,u"
run "certutil -L -n shows the certificate" certutil -L -d "$db" -h "$TOKEN_LABEL" -n "$TOKEN_LABEL:nss-cert" -f "$WORK/pinfile" &&
    expect_outputs "$LAST" "subject" 'Subject: "CN=nss-cert"' \
        "issuer" 'Issuer: "O=Zelmor Interop,CN=Interop Test CA"|Issuer: "CN=Interop Test CA,O=Zelmor Interop"'
run "certutil -L -a exports the certificate" certutil -L -d "$db" -h "$TOKEN_LABEL" -n "$TOKEN_LABEL:nss-cert" -a -f "$WORK/pinfile"
openssl x509 -in "$LAST" -outform DER -out "$WORK/exported.der" 2>/dev/null
expect_same_file "exported certificate is the one written" "$WORK/exported.der" "$WORK/nss-cert.der"

run "certutil -K -h token lists the private key after login" certutil -K -d "$db" -h "$TOKEN_LABEL" -f "$WORK/pinfile" &&
    expect_output "RSA key of nss-cert" 'rsa +[0-9a-f]+ +'"$TOKEN_LABEL"':nss-cert|rsa .*nss-cert'

# The issuing CA is trusted in the database, so NSS accepts the signer's chain.
run "certutil -A adds the issuing CA" certutil -A -d "$db" -n "Interop Test CA" -t "C,C,C" -i "$WORK/ca/ca.pem"
printf 'A message signed by NSS with the token key.\n' >"$WORK/message.txt"
if run "cmsutil -S signs with the token key" cmsutil -S -d "$db" -N "$TOKEN_LABEL:nss-cert" -H SHA256 \
    -i "$WORK/message.txt" -o "$WORK/message.p7s" -f "$WORK/pinfile"; then
    run "openssl cms -verify accepts the signature" openssl cms -verify -inform DER -in "$WORK/message.p7s" \
        -CAfile "$WORK/ca/ca.pem" -purpose any -out "$WORK/message.out"
    expect_output "Verification successful" 'Verification successful'
    expect_same_file "signed content intact" "$WORK/message.out" "$WORK/message.txt"
fi

# certutil -R -k ec generates its key on the token, naming the key type only
# in the mechanism: that needs the module's standards setting.
head -c 64 /dev/urandom >"$WORK/noise"
request_ec() {
    certutil -R -d "$db" -h "$TOKEN_LABEL" -k ec -q nistp256 -s "CN=$1" -f "$WORK/pinfile" -z "$WORK/noise" -o "$WORK/$1.csr"
}
if ! is_reference; then
    expect_fails "standards setting off: certutil -R -k ec fails" request_ec nss-ec-default
    expect_output "with SEC_ERROR_BAD_DATA (an RSA key was made)" 'SEC_ERROR_BAD_DATA'
    limitation "without the standards setting certutil -R -k ec fails (SEC_ERROR_BAD_DATA) and leaves an RSA-2048 key on the token"
fi
standards_mode on
run "certutil -R -k ec makes a request with a new token EC key (standards setting on)" request_ec nss-ec &&
    run "openssl req -verify accepts the request" openssl req -inform DER -in "$WORK/nss-ec.csr" -noout -verify -text &&
    expect_outputs "$LAST" "self-signature verified" 'verify OK' "P-256 key" 'NIST CURVE: P-256' "subject" 'Subject: CN ?= ?nss-ec'
standards_mode off

run "modutil -delete the module" modutil -dbdir "$db" -delete Zelmor -force
expect_output "module removed" 'Module "Zelmor" deleted'

finish
