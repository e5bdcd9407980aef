# Java SunPKCS11 (sourced by lib.sh): keytool lists the key entry with its
# certificate; jarsigner signs a jar and verifies it; EC key generation needs
# the standards setting.
provision_rsa_credential java-signer 41
printf 'name = Zelmor\nlibrary = %s\nslotListIndex = 0\n' "$MODULE" >zelmor.cfg
store="-keystore NONE -storetype PKCS11 -addprovider SunPKCS11 -providerArg $WORK/zelmor.cfg -storepass $USER_PIN"
mkdir -p jar/org/example && printf 'public class Hello {}\n' >jar/org/example/Hello.txt && (cd jar && jar cf ../app.jar org)
t "keytool -list: a PrivateKeyEntry with the certificate written" "keytool -list $store" '^java-signer, PrivateKeyEntry' "$(openssl x509 -in java-signer.pem -noout -fingerprint -sha256 | cut -d= -f2)"
t "jarsigner signs with the token's key" "jarsigner $store -sigalg SHA256withRSA -signedjar app-signed.jar app.jar java-signer" 'jar signed'
t "jarsigner -verify: the token's certificate, the PKCS#7 block" 'jarsigner -verify -verbose -certs app-signed.jar && unzip -l app-signed.jar' '^jar verified\.' 'CN=java-signer' 'META-INF/JAVA-SIG\.RSA'
# keytool -genkeypair -keyalg EC sends an empty private-key template.
ec_key() { keytool -genkeypair $store -keyalg EC -groupname secp256r1 -alias "$1" -dname "CN=$1" -validity 30; }
t "standards setting off: keytool -genkeypair -keyalg EC is refused" '! ec_key java-ec-off' CKR_ARGUMENTS_BAD
limitation "without the standards setting keytool -genkeypair -keyalg EC fails with CKR_ARGUMENTS_BAD (empty private-key template)"
standards_mode on
t "standards setting on: keytool -genkeypair -keyalg EC, jarsigner SHA256withECDSA" "ec_key java-ec && jarsigner $store -sigalg SHA256withECDSA -signedjar app-ec.jar app.jar java-ec && jarsigner -verify -verbose -certs app-ec.jar" '^jar verified\.' 'SHA256withECDSA, 256-bit key'
