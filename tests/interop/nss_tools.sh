# NSS tools (sourced by lib.sh): modutil adds the module to a fresh database;
# certutil exports the token's certificate and, after login, its
# key; cmsutil signs with the token key, openssl cms verifies; certutil -R -k
# ec needs the standards setting.
provision_rsa_credential nss-cert 51
db="sql:$WORK/nssdb"
printf '%s\n' "$USER_PIN" >pinfile
printf 'A message signed by NSS with the token key.\n' >message
head -c 64 /dev/urandom >noise
mkdir nssdb
t "certutil -N, modutil -add the module" "certutil -N -d $db --empty-password && modutil -dbdir $db -add Zelmor -libfile '$MODULE' -force" 'Module "Zelmor" added to database'
t "certutil -L -a exports the certificate byte for byte" "certutil -L -d $db -h '$TOKEN_LABEL' -n '$TOKEN_LABEL:nss-cert' -a -f pinfile | openssl x509 -outform DER | cmp - nss-cert.der"
t "certutil -K lists the private key after login" "certutil -K -d $db -h '$TOKEN_LABEL' -f pinfile" 'rsa .*nss-cert'
# With the issuing CA trusted, NSS accepts the signer's chain.
t "cmsutil -S signs with the token key, openssl cms -verify accepts it" "certutil -A -d $db -n 'Interop Test CA' -t C,C,C -i ca/ca.pem && cmsutil -S -d $db -N '$TOKEN_LABEL:nss-cert' -H SHA256 -i message -o message.p7s -f pinfile && openssl cms -verify -inform DER -in message.p7s -CAfile ca/ca.pem -purpose any -out message.out && cmp message.out message" 'Verification successful'
# certutil -R -k ec names the key type only in the mechanism.
request_ec() { certutil -R -d $db -h "$TOKEN_LABEL" -k ec -q nistp256 -s "CN=$1" -f pinfile -z noise -o "$1.csr"; }
t "standards setting off: certutil -R -k ec fails (an RSA key was made)" '! request_ec nss-ec-off' SEC_ERROR_BAD_DATA
limitation "without the standards setting certutil -R -k ec fails (SEC_ERROR_BAD_DATA) and leaves an RSA-2048 key on the token"
standards_mode on
t "standards setting on: certutil -R -k ec, openssl req -verify" 'request_ec nss-ec && openssl req -inform DER -in nss-ec.csr -noout -verify -text' 'verify OK' 'NIST CURVE: P-256' 'Subject: CN ?= ?nss-ec'
