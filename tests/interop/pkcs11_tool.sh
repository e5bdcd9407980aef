# OpenSC pkcs11-tool (sourced by lib.sh): slot listing, login, key generation,
# signing verified by openssl, decryption of openssl's ciphertext, hashing (in a
# read-write session: the refusal in a public one is the API tests' part), a
# certificate written with its issuing CA, PIN change (the old PIN refused
# with CKR_PIN_INCORRECT), new ID, deletion; EC public key export with the
# standards setting off and on.
printf 'The quick brown fox jumps over the lazy dog, signed on the token.\n' >data
t "slot 0x50000001 and its token (-L)" 'pkcs11-tool --module "$MODULE" --list-slots' "token label +: $TOKEN_LABEL\$" '\(0x50000001\)' "serial num +: $DEVICE_SERIAL" 'token manufacturer +: Trevanic' 'login required'
t "generate an RSA-2048 key pair" 'p11l --keypairgen --key-type rsa:2048 --usage-sign --usage-decrypt --label rsa-key --id 01' 'RSA 2048 bits' 'Private Key Object; RSA'
t "generate a P-256 key pair" 'p11l --keypairgen --key-type EC:prime256v1 --usage-sign --label ec-key --id 02' 'Private Key Object; EC' 'EC_PARAMS: +06082a8648ce3d030107|prime256v1'
t "read the RSA public key (SubjectPublicKeyInfo)" 'p11 --read-object --type pubkey --id 01 -o rsa.pub.der && openssl pkey -pubin -inform DER -in rsa.pub.der -out rsa.pub.pem'
t "standards setting off: EC public key export fails (no CKA_EC_POINT)" '! p11 --read-object --type pubkey --id 02 -o ec.pub.der'
limitation "without the standards setting pkcs11-tool cannot export an EC public key: the point is in CKA_VALUE, CKA_EC_POINT is empty"
standards_mode on
t "standards setting on: the P-256 public key is exported" 'p11 --read-object --type pubkey --id 02 -o ec.pub.der && openssl pkey -pubin -inform DER -in ec.pub.der -out ec.pub.pem && openssl pkey -pubin -in ec.pub.pem -noout -text' 'NIST CURVE: P-256'
standards_mode off
t "SHA256-RSA-PKCS signature verified by openssl" 'p11l --sign -m SHA256-RSA-PKCS --id 01 -i data -o rsa.sig && openssl dgst -sha256 -verify rsa.pub.pem -signature rsa.sig data' '^Verified OK'
t "ECDSA-SHA256 in openssl format verified by openssl with the exported key" 'p11l --sign -m ECDSA-SHA256 --id 02 -f openssl -i data -o ec.der.sig && openssl dgst -sha256 -verify ec.pub.pem -signature ec.der.sig data' '^Verified OK'
t "RSA-PKCS decryption of openssl's ciphertext" 'openssl pkeyutl -encrypt -pubin -inkey rsa.pub.pem -in data -out data.enc && p11l --decrypt -m RSA-PKCS --id 01 -i data.enc -o data.dec && cmp data.dec data'
t "SHA-256 in a read-write session matches openssl" 'p11 --session-rw --hash -m SHA256 -i data -o hash && openssl dgst -sha256 -binary data | cmp - hash'
# The module imports the issuing CA from the CA folder along with the certificate.
mkdir -p "$ZELMOR_HOME/ZelmorDSC/Certificates"
t "write a certificate for the RSA key" 'make_certificate_for "$WORK/rsa.pub.pem" rsa-key "$WORK/rsa-key.pem" && cp ca/ca.pem "$ZELMOR_HOME/ZelmorDSC/Certificates/" && openssl x509 -in rsa-key.pem -outform DER -out rsa-key.der && p11l --write-object rsa-key.der --type cert --label rsa-key --id 01'
t "certificates: the subject's and its CA's, labelled with its common name" 'p11 --list-objects --type cert' 'Certificate Object; type = X.509 cert' 'subject: +DN: CN=rsa-key' 'label: +Interop Test CA'
t "delete the CA certificate by label" 'p11l --delete-object --type cert --label "Interop Test CA"'
t "new ID 0a on the RSA private key" 'p11l --set-id 0a --id 01 --type privkey && p11l --list-objects --type privkey' 'ID: +0a'
t "the public key follows its key pair (ID 0a)" 'p11 --list-objects --type pubkey' 'ID: +0a'
t "delete the EC private key and the certificate" 'p11l --delete-object --type privkey --id 02 && p11l --delete-object --type cert --id 01'
t "the EC key pair and the certificate are gone, the RSA key is left" 'p11l --list-objects' '!ec-key' '!Certificate Object' 'label: +rsa-key'
t "zelmor-sim lists 1 key pair and 0 certificates" '"$SIM" list' "^$DEVICE_SERIAL .* key pairs 1/[0-9]+ +certificates 0/"
# Last: the PIN stays changed.
t "the new PIN logs in" 'p11l -c --new-pin "$NEW_USER_PIN" && p11 -lp "$NEW_USER_PIN" -Oy privkey' 'Private Key'
t "the old PIN is refused with CKR_PIN_INCORRECT" '! p11l --list-objects' CKR_PIN_INCORRECT
