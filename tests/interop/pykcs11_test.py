#!/usr/bin/python3
"""PyKCS11 against the module and one virtual device.

The pkcs11-tool flows from Python (information, login, key generation,
signing and verification checked with the cryptography package, RSA
encryption, digests, random bytes, certificate and key import, relabelling,
PIN change, deletion), the two-call length queries made by hand through the
low-level binding, and C_WaitForSlotEvent while zelmor-sim unplugs and plugs
the device.

Usage: /usr/bin/python3 pykcs11_test.py BUILD_DIR
INTEROP_REFERENCE=softhsm runs it against SoftHSM2 instead (see lib.sh).
"""
import faulthandler
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

import PyKCS11
from PyKCS11 import LowLevel
from PyKCS11.LowLevel import *  # noqa: F403 (the CKA_, CKM_, CKR_... constants)
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.hazmat.primitives.asymmetric.utils import encode_dss_signature
from cryptography.x509.oid import NameOID
import datetime

SERIAL = "ZLM0000001"
# Distinctive PINs: the secrets sweep at the end cannot match them by chance.
PIN = "Zq8Wx3Km"
NEW_PIN = "Nw5Rt9Vb"
TOKEN_LABEL = "Interop Token"
P256_PARAMS = bytes.fromhex("06082a8648ce3d030107")
REFERENCE = os.environ.get("INTEROP_REFERENCE") == "softhsm"


class Report:
    def __init__(self):
        self.passed = self.failed = self.limitations = 0

    def check(self, description, condition, detail=""):
        if condition:
            self.passed += 1
            print("PASS: " + description)
        else:
            self.failed += 1
            try:
                detail = str(detail)
            except Exception as error:  # a repr that asks the token again may fail
                detail = "(detail unavailable: %r)" % error
            print("FAIL: " + description + (("\n      | " + detail) if detail else ""))
        return bool(condition)

    def step(self, description, function, *args, **kwargs):
        """Runs a call; an exception (a PKCS#11 error, a failed verification) is a failed step (None),
        success gives the result or True."""
        try:
            result = function(*args, **kwargs)
        except Exception as error:  # the report names the failing call
            self.check(description, False, "%s: %s" % (type(error).__name__, error))
            return None
        self.check(description, True)
        return True if result is None else result

    def limitation(self, text):
        self.limitations += 1
        print("LIMITATION: " + text)


report = Report()


def text(field):
    """A fixed-width text field: the module fills with zero bytes, others with blanks."""
    return field.rstrip(" \0")


def rv_name(rv):
    return "%s (0x%X)" % (PyKCS11.CKR.get(rv, "?"), rv)


def check_no_secrets(work):
    """No PIN, in clear or as hex, in the module's logs or the virtual device's store."""
    patterns = []
    for pin in (PIN, NEW_PIN):
        raw = pin.encode()
        patterns += [raw, raw.hex().encode(), raw.hex().upper().encode()]
    logs, hits = 0, []
    for folder in ("Trevanic", "store"):
        for root, _, files in os.walk(os.path.join(work, folder)):
            for name in files:
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    content = f.read()
                if name.endswith(".LOG") and content:
                    logs += 1
                hits += [path for pattern in patterns if pattern in content]
    report.check("the module wrote its log at level 3", logs > 0, logs)
    report.check("no PIN in the module's logs or the store", not hits, sorted(set(hits)))


def main():
    build_dir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/linux")
    work = tempfile.mkdtemp(prefix="zelmor-interop-pykcs11.")
    try:
        os.environ["TMPDIR"] = work  # the module's log lands here
        os.environ["ZELMOR_HOME"] = os.path.join(work, "zelmor-home")
        if REFERENCE:
            module = "/usr/lib/softhsm/libsofthsm2.so"
            conf = os.path.join(work, "softhsm2.conf")
            os.makedirs(os.path.join(work, "tokens"))
            with open(conf, "w") as f:
                f.write("directories.tokendir = %s\nobjectstore.backend = file\n" % os.path.join(work, "tokens"))
            os.environ["SOFTHSM2_CONF"] = conf
            subprocess.run(["softhsm2-util", "--init-token", "--free", "--label", TOKEN_LABEL,
                            "--pin", PIN, "--so-pin", "87654321"], check=True, stdout=subprocess.DEVNULL)
            sim = None
        else:
            module = os.path.join(build_dir, "libZelmorPKCS11Driver.so")
            sim = os.path.join(build_dir, "zelmor-sim")
            os.environ["ZELMOR_SIM_HOME"] = os.path.join(work, "store")
            # Every line logged (level 3), so the secrets sweep sees all the module writes.
            config = os.path.join(work, "config")
            os.makedirs(config)
            with open(os.path.join(config, "logLevel"), "w") as f:
                f.write("3\n")
            os.environ["ZELMOR_CONFIG_DIR"] = config
            subprocess.run([sim, "create", SERIAL, "--pin", PIN, "--label", TOKEN_LABEL], check=True)
        print("== PyKCS11 %s against %s (work folder %s)" % (PyKCS11.__version__ if hasattr(PyKCS11, "__version__") else "", module, work))
        try:
            scenario(module, sim, work)
        except Exception:
            import traceback
            report.check("scenario ran to its end", False, traceback.format_exc().replace("\n", "\n      | "))
        if not REFERENCE:
            check_no_secrets(work)
    finally:
        if os.environ.get("KEEP_INTEROP_WORK") == "1":
            print("   (work folder kept: %s)" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("pykcs11: %d passed, %d failed, %d limitations" % (report.passed, report.failed, report.limitations))
    # Leave without unloading: a module bug in C_Finalize must not hang the run.
    sys.stdout.flush()
    os._exit(0 if report.failed == 0 else 1)


def handle_value(handle):
    return handle.value() if hasattr(handle, "value") else int(handle)


def find_one(session, template, description):
    objects = report.step(description, session.findObjects, template)
    if objects is None:
        return None
    if not report.check(description + ": exactly one object", len(objects) == 1, "found %d" % len(objects)):
        return None
    return objects[0]


def scenario(module, sim, work):
    lib = PyKCS11.PyKCS11Lib()
    if report.step("load the module", lib.load, module) is None:
        return
    info = report.step("C_GetInfo", lib.getInfo)
    if info is not None and not REFERENCE:
        reported = (text(info.manufacturerID), text(info.libraryDescription), tuple(info.libraryVersion),
                    tuple(info.cryptokiVersion))
        report.check("manufacturer Trevanic, Zelmor PKCS11 Library 3.6, Cryptoki 2.20",
                     reported == ("Trevanic", "Zelmor PKCS11 Library", (3, 6), (2, 20)), reported)

    slots = report.step("C_GetSlotList", lib.getSlotList, tokenPresent=True)
    if not slots:
        report.check("one slot with a token", False, slots)
        return
    slot = slots[0]
    if not REFERENCE:
        report.check("slot ID 0x50000001", slots == [0x50000001], [hex(s) for s in slots])
    token = report.step("C_GetTokenInfo", lib.getTokenInfo, slot)
    if token is not None:
        report.check("token label", text(token.label) == TOKEN_LABEL, repr(token.label))
        if not REFERENCE:
            report.check("token serial number and flags RNG, login required, initialised",
                         text(token.serialNumber) == SERIAL and token.flags & 0x40D == 0x40D,
                         (token.serialNumber, hex(token.flags)))

    mechanisms = report.step("C_GetMechanismList", lib.getMechanismList, slot)
    if mechanisms is not None:
        expected = {"CKM_RSA_PKCS", "CKM_SHA256_RSA_PKCS", "CKM_RSA_PKCS_KEY_PAIR_GEN", "CKM_EC_KEY_PAIR_GEN",
                    "CKM_ECDSA", "CKM_SHA256"}
        if REFERENCE:
            report.check("the mechanisms used here are listed", expected <= set(mechanisms), mechanisms)
        else:
            expected |= {"CKM_SHA1_RSA_PKCS", "CKM_SHA384_RSA_PKCS", "CKM_SHA512_RSA_PKCS", "CKM_ECDSA_SHA1",
                         "CKM_ECDSA_SHA256", "CKM_ECDSA_SHA384", "CKM_SHA_1", "CKM_SHA384", "CKM_SHA512"}
            report.check("exactly the 15 mechanisms of the module", sorted(mechanisms) == sorted(expected), mechanisms)
    mech_info = report.step("C_GetMechanismInfo(CKM_RSA_PKCS)", lib.getMechanismInfo, slot, "CKM_RSA_PKCS")
    if mech_info is not None:
        report.check("CKM_RSA_PKCS can sign, verify, encrypt, decrypt",
                     mech_info.flags & 0x2B00 == 0x2B00, hex(mech_info.flags))
        if not REFERENCE:
            report.check("CKM_RSA_PKCS key sizes 1024..4096",
                         (mech_info.ulMinKeySize, mech_info.ulMaxKeySize) == (1024, 4096))

    session = report.step("open a read-write session", lib.openSession, slot, CKF_SERIAL_SESSION | CKF_RW_SESSION)
    if session is None:
        return
    public_session = report.step("open a read-only session", lib.openSession, slot, CKF_SERIAL_SESSION)

    # --- login --------------------------------------------------------------------------
    try:
        session.login("00000000")
        report.check("a wrong PIN is refused", False, "login succeeded")
    except PyKCS11.PyKCS11Error as error:
        report.check("a wrong PIN is refused with CKR_PIN_INCORRECT", error.value == 0xA0, rv_name(error.value))
    report.step("C_Login with the user PIN", session.login, PIN)
    state = session.getSessionInfo().state
    report.check("read-write session in CKS_RW_USER_FUNCTIONS", state == CKS_RW_USER_FUNCTIONS, state)
    if public_session is not None:
        state = public_session.getSessionInfo().state
        report.check("read-only session follows the login (CKS_RO_USER_FUNCTIONS)", state == CKS_RO_USER_FUNCTIONS, state)

    # --- key generation ---------------------------------------------------------------------
    rsa_public_template = [(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_RSA),
                           (CKA_MODULUS_BITS, 2048), (CKA_PUBLIC_EXPONENT, (1, 0, 1)),
                           (CKA_VERIFY, True), (CKA_ENCRYPT, True), (CKA_LABEL, "py-rsa"), (CKA_ID, (0x11,))]
    rsa_private_template = [(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_RSA),
                            (CKA_PRIVATE, True), (CKA_SENSITIVE, True), (CKA_SIGN, True), (CKA_DECRYPT, True),
                            (CKA_LABEL, "py-rsa"), (CKA_ID, (0x11,))]
    keys = report.step("generate an RSA-2048 key pair", session.generateKeyPair, rsa_public_template,
                       rsa_private_template, PyKCS11.Mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN))
    ec_public_template = [(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_EC),
                          (CKA_EC_PARAMS, P256_PARAMS), (CKA_VERIFY, True), (CKA_LABEL, "py-ec"), (CKA_ID, (0x12,))]
    ec_private_template = [(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_EC),
                           (CKA_PRIVATE, True), (CKA_SIGN, True), (CKA_LABEL, "py-ec"), (CKA_ID, (0x12,))]
    ec_keys = report.step("generate a P-256 key pair", session.generateKeyPair, ec_public_template,
                          ec_private_template, PyKCS11.Mechanism(CKM_EC_KEY_PAIR_GEN))

    rsa_private = find_one(session, [(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_LABEL, "py-rsa")], "find the RSA private key by label")
    rsa_public = find_one(session, [(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_ID, (0x11,))], "find the RSA public key by ID")
    ec_private = find_one(session, [(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_LABEL, "py-ec")], "find the EC private key by label")
    ec_public = find_one(session, [(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_LABEL, "py-ec")], "find the EC public key by label")
    if keys is not None and rsa_private is not None and rsa_public is not None:
        report.check("generated handles are the ones found",
                     tuple(map(handle_value, keys)) == (handle_value(rsa_public), handle_value(rsa_private)),
                     [handle_value(h) for h in (keys[0], keys[1], rsa_public, rsa_private)])
    if public_session is not None:
        hidden = public_session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY)])
        report.check("private keys visible in the read-only session of the logged-in module", len(hidden) == 2, len(hidden))

    data = b"Data signed from PyKCS11 on the virtual device.\n" * 3
    # --- RSA ----------------------------------------------------------------------------------
    if rsa_private is not None and rsa_public is not None:
        modulus, exponent, bits, key_type, label = session.getAttributeValue(
            rsa_public, [CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_MODULUS_BITS, CKA_KEY_TYPE, CKA_LABEL])
        exponent = int.from_bytes(bytes(exponent), "big")
        reported = (bits, key_type, label, len(modulus), exponent)
        report.check("RSA public key: 2048 bits, CKK_RSA, py-rsa, 256-byte modulus, exponent 65537",
                     reported == (2048, CKK_RSA, "py-rsa", 256, 65537), reported)
        public_key = rsa.RSAPublicNumbers(exponent, int.from_bytes(bytes(modulus), "big")).public_key()
        mechanism = PyKCS11.Mechanism(CKM_SHA256_RSA_PKCS)
        signature = report.step("sign with CKM_SHA256_RSA_PKCS", session.sign, rsa_private, data, mechanism)
        if signature is not None:
            report.step("cryptography verifies the CKM_SHA256_RSA_PKCS signature", public_key.verify,
                        bytes(signature), data, padding.PKCS1v15(), hashes.SHA256())
            report.check("C_Verify accepts the signature", session.verify(rsa_public, data, signature, mechanism))
            damaged = bytes(signature[:-1]) + bytes([signature[-1] ^ 1])
            report.check("C_Verify rejects a damaged signature", not session.verify(rsa_public, data, damaged, mechanism))
        two_call_sign(session, rsa_private, data)
        multi_part_sign(session, rsa_private, public_key, data)

        plain = b"a secret for the token"
        ciphertext = report.step("C_Encrypt with the RSA public key", session.encrypt, rsa_public, plain)
        if ciphertext is not None:
            report.check("ciphertext is 256 bytes", len(ciphertext) == 256, len(ciphertext))
            decrypted = report.step("C_Decrypt on the token", session.decrypt, rsa_private, ciphertext)
            report.check("decrypted text matches", decrypted is not None and bytes(decrypted) == plain, decrypted)
        foreign = public_key.encrypt(plain + b" (encrypted outside)", padding.PKCS1v15())
        decrypted = report.step("C_Decrypt of a ciphertext made by cryptography", session.decrypt, rsa_private, foreign)
        report.check("decrypted text matches", decrypted is not None and bytes(decrypted) == plain + b" (encrypted outside)")
        two_call_attributes(session, rsa_public)
        certificate_flows(session, rsa_private, rsa_public, public_key, work)

    # --- EC ---------------------------------------------------------------------------------------
    if ec_private is not None and ec_public is not None:
        params, key_type = session.getAttributeValue(ec_public, [CKA_EC_PARAMS, CKA_KEY_TYPE])
        report.check("CKA_KEY_TYPE CKK_EC", key_type == CKK_EC, key_type)
        report.check("CKA_EC_PARAMS is P-256", bytes(params) == P256_PARAMS, bytes(params).hex())
        point = None
        if REFERENCE:
            # SoftHSM2 reports the point as a DER OCTET STRING in CKA_EC_POINT.
            point = bytes(session.getAttributeValue(ec_public, [CKA_EC_POINT])[0])[2:]
        else:
            value, ec_point = session.getAttributeValue(ec_public, [CKA_VALUE, CKA_EC_POINT], allAsBinary=True)
            point = bytes(value)
            report.check("EC point is the uncompressed 04||X||Y in CKA_VALUE", len(point) == 65 and point[0] == 4,
                         point.hex())
            if len(ec_point) == 0:
                report.limitation("CKA_EC_POINT is empty: the module gives the EC point as CKA_VALUE only")
        ecdsa = CKM_ECDSA if REFERENCE else CKM_ECDSA_SHA256
        to_sign = hashlib.sha256(data).digest() if REFERENCE else data
        signature = report.step("sign with %s" % PyKCS11.CKM[ecdsa], session.sign, ec_private, to_sign,
                                PyKCS11.Mechanism(ecdsa))
        if signature is not None and point is not None:
            report.check("ECDSA P-256 signature is 64 bytes (r||s)", len(signature) == 64, len(signature))
            der = encode_dss_signature(int.from_bytes(bytes(signature[:32]), "big"),
                                       int.from_bytes(bytes(signature[32:]), "big"))
            report.step("cryptography verifies the ECDSA signature", lambda: ec.EllipticCurvePublicKey.from_encoded_point(
                ec.SECP256R1(), point).verify(der, data, ec.ECDSA(hashes.SHA256())))
            report.check("C_Verify accepts the ECDSA signature",
                         session.verify(ec_public, to_sign, signature, PyKCS11.Mechanism(ecdsa)))

    # --- digest and random ---------------------------------------------------------------------
    for mechanism, name, reference in ((CKM_SHA256, "SHA-256", hashlib.sha256), (CKM_SHA_1, "SHA-1", hashlib.sha1),
                                       (CKM_SHA384, "SHA-384", hashlib.sha384)):
        digest = report.step("C_Digest " + name, session.digest, data, PyKCS11.Mechanism(mechanism))
        report.check(name + " matches hashlib", digest is not None and bytes(digest) == reference(data).digest())
    digest_session = report.step("C_DigestInit SHA-256 (multi-part)", session.digestSession, PyKCS11.Mechanism(CKM_SHA256))
    if digest_session is not None:
        digest_session.update(data[:10])
        digest_session.update(data[10:])
        report.check("multi-part SHA-256 matches hashlib", bytes(digest_session.final()) == hashlib.sha256(data).digest())
    random_bytes = report.step("C_GenerateRandom 32 bytes", session.generateRandom, 32)
    report.check("32 random bytes", random_bytes is not None and len(random_bytes) == 32)

    # --- relabel, PIN, delete ---------------------------------------------------------------------------
    if ec_private is not None:
        report.step("C_SetAttributeValue CKA_LABEL on the EC private key", session.setAttributeValue,
                    ec_private, [(CKA_LABEL, "py-ec-renamed")])
        found = session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_LABEL, "py-ec-renamed")])
        report.check("the key is found under its new label", len(found) == 1, len(found))
        if not REFERENCE:
            found = session.findObjects([(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_LABEL, "py-ec-renamed")])
            report.check("its public key carries the new label too (one key-pair label)", len(found) == 1, len(found))
        report.step("C_SetAttributeValue CKA_ID on the EC private key", session.setAttributeValue,
                    ec_private, [(CKA_ID, (0x21, 0x22))])
        found = session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_ID, (0x21, 0x22))])
        report.check("the key is found under its new ID", len(found) == 1, len(found))

    if report.step("C_SetPIN", session.setPin, PIN, NEW_PIN) is not None:
        session.logout()
        report.step("C_Login with the new PIN", session.login, NEW_PIN)
        report.step("C_SetPIN back", session.setPin, NEW_PIN, PIN)
        session.logout()
        report.step("C_Login with the original PIN", session.login, PIN)

    if ec_private is not None:
        # Found again: a token may give new handles after a new login.
        ec_private = (session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_ID, (0x21, 0x22))]) or [ec_private])[0]
        report.step("C_DestroyObject of the EC private key", session.destroyObject, ec_private)
        if REFERENCE:
            session.destroyObject(session.findObjects([(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_ID, (0x12,))])[0])
        # With a class: the module applies label and ID only to searches that name a class.
        left = [handle_value(h) for klass in (CKO_PRIVATE_KEY, CKO_PUBLIC_KEY)
                for h in session.findObjects([(CKA_CLASS, klass), (CKA_LABEL, "py-ec-renamed")])]
        report.check("both keys of the EC key pair are gone", len(left) == 0, left)
        if not REFERENCE:
            everything = session.findObjects([(CKA_LABEL, "py-ec-renamed")])
            if everything:
                report.limitation("a search template without CKA_CLASS returns every object (its label, ID, "
                                  "value criteria apply only together with a class)")

    if public_session is not None:
        report.step("C_Logout", session.logout)
        state = public_session.getSessionInfo().state
        report.check("the other session is public again (module-wide login)", state == CKS_RO_PUBLIC_SESSION, state)
        hidden = public_session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY)])
        report.check("no private key visible after logout", len(hidden) == 0, len(hidden))
        public_session.closeSession()
    if REFERENCE:
        report.limitation("C_WaitForSlotEvent is not offered by the reference token; slot events not tested")
        return
    slot_events(lib, session, sim, slot)


def two_call_sign(session, key, data):
    """C_Sign with a null buffer, a too small one and a right-sized one, through the low-level binding."""
    lib = session.lib
    mechanism = PyKCS11.Mechanism(CKM_SHA256_RSA_PKCS).to_native()
    if not report.check("C_SignInit (length query)", lib.C_SignInit(session.session, mechanism, key) == CKR_OK):
        return
    in_data = PyKCS11.ckbytelist(data)
    signature = PyKCS11.ckbytelist()
    rv = lib.C_Sign(session.session, in_data, signature)
    report.check("C_Sign with a null buffer reports the length 256", rv == CKR_OK and len(signature) == 256,
                 "%s, %d" % (rv_name(rv), len(signature)))
    short = PyKCS11.ckbytelist([0] * 255)
    rv = lib.C_Sign(session.session, in_data, short)
    report.check("C_Sign with a 255-byte buffer gives CKR_BUFFER_TOO_SMALL", rv == CKR_BUFFER_TOO_SMALL, rv_name(rv))
    full = PyKCS11.ckbytelist([0] * 256)
    rv = lib.C_Sign(session.session, in_data, full)
    report.check("C_Sign with a 256-byte buffer then succeeds", rv == CKR_OK and len(full) == 256, rv_name(rv))
    again = session.sign(key, data, PyKCS11.Mechanism(CKM_SHA256_RSA_PKCS))
    report.check("PKCS#1 v1.5 is deterministic: same bytes as a fresh signature", bytes(full) == bytes(again))


def multi_part_sign(session, key, public_key, data):
    lib = session.lib
    mechanism = PyKCS11.Mechanism(CKM_SHA256_RSA_PKCS).to_native()
    rv = lib.C_SignInit(session.session, mechanism, key)
    for part in (data[:7], data[7:60], data[60:]):
        if rv == CKR_OK:
            rv = lib.C_SignUpdate(session.session, PyKCS11.ckbytelist(part))
    signature = PyKCS11.ckbytelist()
    if rv == CKR_OK:
        rv = lib.C_SignFinal(session.session, signature)
    if rv == CKR_OK:
        rv = lib.C_SignFinal(session.session, signature)
    if report.check("multi-part C_SignUpdate/C_SignFinal", rv == CKR_OK, rv_name(rv)):
        report.step("cryptography verifies the multi-part signature", public_key.verify, bytes(signature), data,
                    padding.PKCS1v15(), hashes.SHA256())


def two_call_attributes(session, key):
    """C_GetAttributeValue: lengths first (null pValue), then the values."""
    lib = session.lib
    template = LowLevel.ckattrlist(2)
    template[0].SetType(CKA_LABEL)
    template[1].SetType(CKA_MODULUS)
    rv = lib.C_GetAttributeValue(session.session, key, template)
    report.check("C_GetAttributeValue length query", rv == CKR_OK, rv_name(rv))
    rv = lib.C_GetAttributeValue(session.session, key, template)
    report.check("C_GetAttributeValue second call fills the values",
                 rv == CKR_OK and template[0].GetString() == "py-rsa" and len(template[1].GetBin()) == 256,
                 rv_name(rv))


def certificate_flows(session, rsa_private, rsa_public, public_key, work):
    """A certificate for the token's key written with C_CreateObject, then an RSA key imported."""
    issuer_key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    issuer = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "PyKCS11 Test CA")])
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "py-rsa"),
                         x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Zelmor Interop")])
    now = datetime.datetime.now(datetime.timezone.utc)
    certificate = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer).public_key(public_key)
                   .serial_number(0x1234567890).not_valid_before(now - datetime.timedelta(days=1))
                   .not_valid_after(now + datetime.timedelta(days=30)).sign(issuer_key, hashes.SHA256()))
    der = certificate.public_bytes(serialization.Encoding.DER)
    template = [(CKA_CLASS, CKO_CERTIFICATE), (CKA_CERTIFICATE_TYPE, CKC_X_509), (CKA_TOKEN, True),
                (CKA_LABEL, "py-rsa"), (CKA_ID, (0x11,)), (CKA_VALUE, der),
                (CKA_SUBJECT, certificate.subject.public_bytes()), (CKA_ISSUER, certificate.issuer.public_bytes())]
    handle = report.step("C_CreateObject of a certificate", session.createObject, template)
    if handle is not None:
        read = session.getAttributeValue(handle, [CKA_VALUE, CKA_SUBJECT, CKA_ISSUER, CKA_SERIAL_NUMBER],
                                         allAsBinary=True)
        expected = (der, certificate.subject.public_bytes(), certificate.issuer.public_bytes(),
                    bytes.fromhex("02051234567890"))
        for name, actual, wanted in zip(("VALUE", "SUBJECT", "ISSUER", "SERIAL_NUMBER"), read, expected):
            if not (REFERENCE and name == "SERIAL_NUMBER"):
                report.check("certificate CKA_%s is the DER written" % name, bytes(actual) == wanted, bytes(actual).hex())
        found = session.findObjects([(CKA_CLASS, CKO_CERTIFICATE), (CKA_ID, (0x11,))])
        report.check("certificate found by CKA_ID", list(map(handle_value, found)) == [handle_value(handle)], len(found))
        found = session.findObjects([(CKA_CLASS, CKO_CERTIFICATE), (CKA_SUBJECT, certificate.subject.public_bytes())])
        report.check("certificate found by CKA_SUBJECT", list(map(handle_value, found)) == [handle_value(handle)], len(found))
        report.step("C_DestroyObject of the certificate", session.destroyObject, handle)
        report.check("certificate gone", len(session.findObjects([(CKA_CLASS, CKO_CERTIFICATE)])) == 0)

    imported = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    numbers = imported.private_numbers()

    def big(value):
        return value.to_bytes((value.bit_length() + 7) // 8, "big")
    template = [(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_KEY_TYPE, CKK_RSA), (CKA_TOKEN, True), (CKA_PRIVATE, True),
                (CKA_SIGN, True), (CKA_LABEL, "py-imported"), (CKA_ID, (0x13,)),
                (CKA_MODULUS, big(numbers.public_numbers.n)), (CKA_PUBLIC_EXPONENT, big(numbers.public_numbers.e)),
                (CKA_PRIVATE_EXPONENT, big(numbers.d)), (CKA_PRIME_1, big(numbers.p)), (CKA_PRIME_2, big(numbers.q)),
                (CKA_EXPONENT_1, big(numbers.dmp1)), (CKA_EXPONENT_2, big(numbers.dmq1)),
                (CKA_COEFFICIENT, big(numbers.iqmp))]
    handle = report.step("C_CreateObject of an RSA private key (import)", session.createObject, template)
    if handle is not None:
        data = b"signed with an imported key"
        signature = report.step("sign with the imported key", session.sign, handle, data,
                                PyKCS11.Mechanism(CKM_SHA256_RSA_PKCS))
        if signature is not None:
            report.step("the imported key's signature verifies with the original key", imported.public_key().verify,
                        bytes(signature), data, padding.PKCS1v15(), hashes.SHA256())
        report.step("C_DestroyObject of the imported key", session.destroyObject, handle)


def slot_events(lib, session, sim, slot):
    """C_WaitForSlotEvent while zelmor-sim unplugs and plugs the device."""
    session.login(PIN)
    # The device monitor posts an event for the device present at start; drain it.
    deadline = time.time() + 5
    while time.time() < deadline:
        rv, _ = lib.lib.C_WaitForSlotEvent(CKF_DONT_BLOCK, 0)
        if rv == CKR_NO_EVENT:
            break
        time.sleep(0.2)
    rv, _ = lib.lib.C_WaitForSlotEvent(CKF_DONT_BLOCK, 0)
    report.check("no event pending before the unplug", rv == CKR_NO_EVENT, rv_name(rv))

    # PyKCS11 keeps the interpreter lock during a blocking C_WaitForSlotEvent,
    # so the unplug comes from a process started before the wait. A watchdog
    # thread (outside the interpreter) ends the run if the wait never returns.
    for action, count in (("unplug", 0), ("plug", 1)):
        changer = subprocess.Popen(["sh", "-c", 'sleep 1; exec "$0" "$1" "$2"', sim, action, SERIAL],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        sys.stdout.flush()
        faulthandler.dump_traceback_later(20, exit=True)
        started = time.time()
        rv, event_slot = lib.lib.C_WaitForSlotEvent(0, 0)
        faulthandler.cancel_dump_traceback_later()
        waited = time.time() - started
        output, _ = changer.communicate(timeout=20)
        report.check("zelmor-sim %s" % action, changer.returncode == 0, output)
        report.check("blocking C_WaitForSlotEvent returns after %s (%.1f s)" % (action, waited),
                     rv == CKR_OK and waited >= 0.9, "%s after %.1f s" % (rv_name(rv), waited))
        report.check("the event names slot 0x50000001 (%s)" % action, event_slot == 0x50000001,
                     hex(event_slot) if isinstance(event_slot, int) else event_slot)
        slots = lib.getSlotList(tokenPresent=True)
        report.check("C_GetSlotList shows %d slot(s) after %s" % (count, action), len(slots) == count, slots)
        if action == "unplug":
            state = session.getSessionInfo().state
            report.check("the logged-in session dropped to public when its device went away",
                         state == CKS_RW_PUBLIC_SESSION, state)
    report.step("login again after the device came back", session.login, PIN)
    report.step("sign after the device came back", session.sign,
                session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_LABEL, "py-rsa")])[0], b"back",
                PyKCS11.Mechanism(CKM_SHA256_RSA_PKCS))


if __name__ == "__main__":
    main()
