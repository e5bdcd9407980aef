#!/usr/bin/env bash
# A tour of the module with a virtual device: builds the Linux module and the
# virtual device library, creates a device in a temporary store, and through
# the module with standard tools (OpenSC pkcs11-tool, openssl) lists the token,
# generates RSA-2048 and P-256 key pairs, signs with both, verifies the
# signatures with openssl against public keys read out through the module,
# imports a certificate and lists the objects. Exits non-zero if a step fails.
set -euo pipefail
source "$(dirname "$0")/common.sh"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
fail() { echo "demo failed: $*" >&2; exit 1; }

step "Installing what is missing"
ensure_packages cmake ninja-build g++ pkg-config libssl-dev googletest libgtest-dev opensc openssl python3-pykcs11

step "Building the Linux module and the virtual device library"
configure_and_build "$ROOT/build/linux" >/dev/null
MODULE="$ROOT/build/linux/libZelmorPKCS11Driver.so"
SIM="$ROOT/build/linux/zelmor-sim"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export ZELMOR_SIM_HOME="$WORK/store" ZELMOR_HOME="$WORK/home" ZELMOR_CONFIG_DIR="$WORK/config"
mkdir -p "$ZELMOR_HOME" "$ZELMOR_CONFIG_DIR"
PIN=246810
SERIAL=DEMO00000001

step "Creating virtual device $SERIAL in $ZELMOR_SIM_HOME"
"$SIM" create "$SERIAL" --pin "$PIN" --label "Demo token"
"$SIM" list

p11() { pkcs11-tool --module "$MODULE" "$@"; }

step "Slots and token, as pkcs11-tool sees them"
p11 --list-slots | tee "$WORK/slots.txt"
grep -q "serial num *: $SERIAL" "$WORK/slots.txt" || fail "the token's serial number is not listed"

step "Generating an RSA-2048 key pair (ID 01) and a P-256 key pair (ID 02) on the device"
p11 --login --pin "$PIN" --keypairgen --key-type rsa:2048 --id 01 --label demo-rsa
p11 --login --pin "$PIN" --keypairgen --key-type EC:prime256v1 --id 02 --label demo-ec

echo "Signed by the Zelmor virtual device on $(date)" >"$WORK/message.txt"

step "Signing the message with the RSA key (SHA256-RSA-PKCS) and verifying it with openssl"
p11 --login --pin "$PIN" --sign --mechanism SHA256-RSA-PKCS --id 01 \
    --input-file "$WORK/message.txt" --output-file "$WORK/rsa.sig"
p11 --read-object --type pubkey --id 01 --output-file "$WORK/rsa.pub.der"
openssl pkey -pubin -inform DER -in "$WORK/rsa.pub.der" -out "$WORK/rsa.pub.pem"
openssl dgst -sha256 -verify "$WORK/rsa.pub.pem" -signature "$WORK/rsa.sig" "$WORK/message.txt"

step "Signing the message with the P-256 key (ECDSA-SHA256) and verifying it with openssl"
p11 --login --pin "$PIN" --sign --mechanism ECDSA-SHA256 --id 02 --signature-format openssl \
    --input-file "$WORK/message.txt" --output-file "$WORK/ec.sig"
# The module reports an EC public key's point as CKA_VALUE (there is no
# CKA_EC_POINT), so the public key for openssl is built from CKA_VALUE and
# CKA_EC_PARAMS, read through the module with PyKCS11.
/usr/bin/python3 - "$MODULE" "$WORK/ec.pub.der" <<'PY'
import sys
import PyKCS11
lib = PyKCS11.PyKCS11Lib()
lib.load(sys.argv[1])
session = lib.openSession(lib.getSlotList(tokenPresent=True)[0])
key = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY), (PyKCS11.CKA_ID, (0x02,))])[0]
point, params = session.getAttributeValue(key, [PyKCS11.CKA_VALUE, PyKCS11.CKA_EC_PARAMS])
def der(tag, body):
    n = len(body)
    length = bytes([n]) if n < 0x80 else bytes([0x80 | ((n.bit_length() + 7) // 8)]) + n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag]) + length + body
ec_public_key_oid = bytes.fromhex("06072a8648ce3d0201")
spki = der(0x30, der(0x30, ec_public_key_oid + bytes(params)) + der(0x03, b"\x00" + bytes(point)))
open(sys.argv[2], "wb").write(spki)
session.closeSession()
PY
openssl pkey -pubin -inform DER -in "$WORK/ec.pub.der" -out "$WORK/ec.pub.pem"
openssl dgst -sha256 -verify "$WORK/ec.pub.pem" -signature "$WORK/ec.sig" "$WORK/message.txt"

step "Importing a certificate (ID 03)"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Zelmor demo/O=Trevanic" -days 30 \
    -keyout "$WORK/cert.key" -outform DER -out "$WORK/cert.der" 2>/dev/null
p11 --login --pin "$PIN" --write-object "$WORK/cert.der" --type cert --id 03 --label demo-cert

step "Objects on the token"
p11 --login --pin "$PIN" --list-objects | tee "$WORK/objects.txt"
for label in demo-rsa demo-ec demo-cert; do
    grep -q "label: *$label" "$WORK/objects.txt" || fail "object $label is missing"
done
"$SIM" show "$SERIAL"

step "Done: both signatures verified by openssl, the certificate is on the device"
