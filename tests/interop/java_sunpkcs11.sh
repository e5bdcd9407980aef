#!/usr/bin/env bash
# Java SunPKCS11 (OpenJDK 17): keytool lists the token's key entry with its
# certificate; jarsigner signs a jar with the token's key and verifies it.
# Usage: java_sunpkcs11.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh"
interop_init "${1:-}" java-sunpkcs11
create_device || exit 2
echo "   $(java -version 2>&1 | head -1)"

provision_rsa_credential java-signer 41

config="$WORK/zelmor-pkcs11.cfg"
printf 'name = Zelmor\nlibrary = %s\nslotListIndex = 0\n' "$MODULE" >"$config"
p11_store=(-keystore NONE -storetype PKCS11 -addprovider SunPKCS11 -providerArg "$config" -storepass "$USER_PIN")
fingerprint=$(openssl x509 -in "$WORK/java-signer.pem" -noout -fingerprint -sha256 | cut -d= -f2)

run "keytool -list" keytool -list "${p11_store[@]}" &&
    expect_outputs "$LAST" "key entry java-signer is a PrivateKeyEntry" '^java-signer, PrivateKeyEntry' \
        "its certificate fingerprint is the one written" "$fingerprint"
run "keytool -list -v -alias java-signer" keytool -list -v "${p11_store[@]}" -alias java-signer &&
    expect_outputs "$LAST" "owner shown" 'Owner: CN=java-signer' \
        "issuer shown" 'Issuer: O=Zelmor Interop, CN=Interop Test CA|Issuer: CN=Interop Test CA' \
        "RSA 2048-bit key" '2048-bit RSA key'

mkdir -p "$WORK/jar/org/example"
printf 'public class Hello {}\n' >"$WORK/jar/org/example/Hello.txt"
printf 'Main-Class: org.example.Hello\n' >"$WORK/manifest.txt"
(cd "$WORK/jar" && jar cfm "$WORK/app.jar" "$WORK/manifest.txt" org) >"$LAST" 2>&1

if run "jarsigner signs with the token's key" jarsigner "${p11_store[@]}" -sigalg SHA256withRSA \
    -signedjar "$WORK/app-signed.jar" "$WORK/app.jar" java-signer; then
    expect_output "jar signed" 'jar signed'
    run "jarsigner -verify" jarsigner -verify -verbose -certs "$WORK/app-signed.jar"
    expect_outputs "$LAST" "jar verified" '^jar verified\.' "signed by the token's certificate" 'CN=java-signer'
    unzip -l "$WORK/app-signed.jar" >"$LAST" 2>&1
    expect_output "the jar holds the PKCS#7 signature block" 'META-INF/JAVA-SIG\.RSA'
    # Tamper with a signed entry: verification must fail.
    (cd "$WORK" && mkdir -p tamper && cd tamper && unzip -q ../app-signed.jar && echo changed >>org/example/Hello.txt &&
        zip -q -r ../app-tampered.jar .) >/dev/null 2>&1
    run_quiet jarsigner -verify "$WORK/app-tampered.jar"
    expect_no_output "a tampered jar is not verified" '^jar verified\.'
fi

run "keytool signs a certificate request with the token key" keytool -certreq "${p11_store[@]}" \
    -alias java-signer -sigalg SHA256withRSA -file "$WORK/java.csr" &&
    run "openssl verifies the request's signature" openssl req -in "$WORK/java.csr" -noout -verify &&
    expect_output "request self-signature verify OK" 'verify OK'

# keytool -genkeypair -keyalg EC sends an empty private-key template: the
# module accepts it only under its standards setting.
generate_ec() {
    keytool -genkeypair "${p11_store[@]}" -keyalg EC -groupname secp256r1 -alias "$1" -dname "CN=$1" -validity 30
}
if ! is_reference; then
    expect_fails "standards setting off: keytool -genkeypair -keyalg EC is refused" generate_ec java-ec-default
    expect_output "with CKR_ARGUMENTS_BAD" 'CKR_ARGUMENTS_BAD'
    limitation "without the standards setting keytool -genkeypair -keyalg EC fails with CKR_ARGUMENTS_BAD (empty private-key template)"
fi
standards_mode on
if run "keytool -genkeypair -keyalg EC -groupname secp256r1 (standards setting on)" generate_ec java-ec; then
    run "jarsigner signs with SHA256withECDSA" jarsigner "${p11_store[@]}" -sigalg SHA256withECDSA \
        -signedjar "$WORK/app-ec.jar" "$WORK/app.jar" java-ec &&
        run "jarsigner -verify the ECDSA-signed jar" jarsigner -verify -verbose -certs "$WORK/app-ec.jar" &&
        expect_outputs "$LAST" "jar verified" '^jar verified\.' "signed with a 256-bit EC key" 'SHA256withECDSA, 256-bit key'
fi
standards_mode off

finish
