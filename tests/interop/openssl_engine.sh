# OpenSSL with the PKCS#11 engine (libp11, sourced by lib.sh): dgst signs
# with the token's RSA key by pkcs11: URI, plain openssl verifies;
# req -x509 self-signs with the token key; pkeyutl -decrypt; ECDSA with a
# P-256 token key, and req -x509 with it under the standards setting.
# The engine finds the module through this variable (or MODULE_PATH in openssl.cnf).
export PKCS11_MODULE_PATH="$MODULE"
engine="-engine pkcs11 -keyform engine"
# key LABEL: the pkcs11: URI of the token's private key LABEL, with the PIN.
key() { echo "pkcs11:token=${TOKEN_LABEL// /%20};object=$1;type=private;pin-value=$USER_PIN"; }
printf 'Signed by OpenSSL through the PKCS#11 engine.\n' >data
openssl dgst -sha256 -binary -out data.sha256 data
provision_rsa_credential ossl-rsa 31
t "dgst -sha256 -sign with the token key, plain dgst -verify" 'openssl dgst -sha256 $engine -sign "$(key ossl-rsa)" -out dgst.sig data && openssl dgst -sha256 -verify ossl-rsa.pub.pem -signature dgst.sig data' '^Verified OK'
t "req -x509 self-signed with the token key verifies" 'openssl req -new -x509 $engine -key "$(key ossl-rsa)" -sha256 -subj /CN=self-signed -days 7 -out self.pem && openssl verify -CAfile self.pem self.pem' ': OK$'
t "pkeyutl -decrypt through the engine" 'openssl pkeyutl -encrypt -pubin -inkey ossl-rsa.pub.pem -in data.sha256 -out secret.enc && openssl pkeyutl -decrypt $engine -inkey "$(key ossl-rsa)" -in secret.enc -out secret.dec && cmp secret.dec data.sha256'
# der_to_rs IN OUT: the engine's DER ECDSA signature as the token's r||s (each
# INTEGER zero-padded, or stripped of its sign byte, to 32 bytes).
der_to_rs() { openssl asn1parse -inform DER -in "$1" | sed -nE 's/.*INTEGER +:([0-9A-F]+).*/000000000000000000\1/p' | grep -oE '.{64}$' | xxd -r -p >"$2"; }
t "dgst -sign with the token's P-256 key, verified on the token" 'p11l --keypairgen --key-type EC:prime256v1 --usage-sign --label ossl-ec --id 32 && openssl dgst -sha256 $engine -sign "$(key ossl-ec)" -out ec.sig data && der_to_rs ec.sig ec.rs.sig && p11 --verify -m ECDSA-SHA256 --id 32 -i data --signature-file ec.rs.sig' 'Signature is valid'
# openssl req takes the public key from CKA_EC_POINT, given only under the standards setting.
t "standards setting off: req -x509 with the EC key writes an empty public key" 'openssl req -new -x509 $engine -key "$(key ossl-ec)" -sha256 -subj /CN=ec-off -days 7 -out ec-off.pem && ! openssl x509 -in ec-off.pem -noout -pubkey | grep .'
limitation "without the standards setting openssl req with an EC token key exits 0 but writes an empty public key"
standards_mode on
# Self-verification proves the certificate holds the token's point: the token's key signed it.
t "standards setting on: req -x509 with the EC key verifies" 'openssl req -new -x509 $engine -key "$(key ossl-ec)" -sha256 -subj /CN=ec-on -days 7 -out ec-on.pem && openssl verify -CAfile ec-on.pem ec-on.pem' ': OK$'
