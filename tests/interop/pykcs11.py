#!/usr/bin/python3
# PyKCS11 against the module and the device made by lib.sh (`tests/interop/lib.sh BUILD_DIR pykcs11`).
#
# What only Python exercises (the other applications cover the rest): the two-call length queries
# through the low-level binding, multi-part signing and digests, RSA signatures and ciphertexts checked
# with python3-cryptography, certificate and RSA key import, relabelling, module-wide login, and
# C_WaitForSlotEvent while zelmor-sim unplugs and plugs the device. Prints PASS/FAIL/LIMITATION
# lines, which lib.sh counts.
import datetime, faulthandler, hashlib, os, subprocess, time, traceback  # noqa: E401

import PyKCS11
from PyKCS11 import LowLevel, Mechanism
from PyKCS11.LowLevel import *  # noqa: F403 (the CKA_, CKM_, CKR_... constants)
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa

PIN, SERIAL = os.environ["USER_PIN"], os.environ["DEVICE_SERIAL"]
P256 = bytes.fromhex("06082a8648ce3d030107")
SHA256_RSA = Mechanism(CKM_SHA256_RSA_PKCS)
RSA_PUBLIC = [(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_RSA), (CKA_MODULUS_BITS, 2048), (CKA_PUBLIC_EXPONENT, (1, 0, 1)), (CKA_VERIFY, True), (CKA_ENCRYPT, True), (CKA_LABEL, "py-rsa"), (CKA_ID, (0x11,))]
RSA_PRIVATE = [(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_RSA), (CKA_PRIVATE, True), (CKA_SENSITIVE, True), (CKA_SIGN, True), (CKA_DECRYPT, True), (CKA_LABEL, "py-rsa"), (CKA_ID, (0x11,))]
EC_PUBLIC = [(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_EC), (CKA_EC_PARAMS, P256), (CKA_VERIFY, True), (CKA_LABEL, "py-ec"), (CKA_ID, (0x12,))]
EC_PRIVATE = [(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_EC), (CKA_PRIVATE, True), (CKA_SIGN, True), (CKA_LABEL, "py-ec"), (CKA_ID, (0x12,))]


# One step: FUNCTION() must return WANT (anything when not given), or raise the
# PKCS#11 error WANT; any other exception fails it. Gives the result.
def ok(description, function, want=...):
    try:
        got = function()
        good = want is ... or got == want
    except Exception as error:
        good = want is not ... and getattr(error, "value", None) == want
        got = "%s: %s" % (type(error).__name__, error)
    if good:
        print("PASS: " + description)
        return got
    print("FAIL: %s\n      | got %r%s" % (description, got, "" if want is ... else ", want %r" % (want,)))


def find(session, klass, attribute, value):
    return [h.value() for h in session.findObjects([(CKA_CLASS, klass), (attribute, value)])]


def rsa_verify(public_key, signature, data):
    public_key.verify(bytes(signature), data, padding.PKCS1v15(), hashes.SHA256())
    return True


def main():
    lib = PyKCS11.PyKCS11Lib()
    lib.load(os.environ["MODULE"])
    slot = ok("C_GetSlotList: slot 0x50000001", lambda: lib.getSlotList(tokenPresent=True), [0x50000001])[0]
    session = lib.openSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION)
    public = lib.openSession(slot, CKF_SERIAL_SESSION)
    ok("C_Login: both sessions in the user state (module-wide login)", lambda: (session.login(PIN), session.getSessionInfo().state, public.getSessionInfo().state), (None, CKS_RW_USER_FUNCTIONS, CKS_RO_USER_FUNCTIONS))

    rsa_public, rsa_private = ok("C_GenerateKeyPair RSA-2048", lambda: session.generateKeyPair(RSA_PUBLIC, RSA_PRIVATE, Mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN)))
    ec_public, ec_private = ok("C_GenerateKeyPair P-256", lambda: session.generateKeyPair(EC_PUBLIC, EC_PRIVATE, Mechanism(CKM_EC_KEY_PAIR_GEN)))
    ok("the read-only session sees both private keys", lambda: len(public.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY)])), 2)

    data = b"Data signed from PyKCS11 on the virtual device.\n" * 3
    modulus, exponent, bits, key_type, label = session.getAttributeValue(rsa_public, [CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_MODULUS_BITS, CKA_KEY_TYPE, CKA_LABEL])
    ok("RSA public key: 256-byte modulus, exponent 65537, 2048 bits, CKK_RSA, py-rsa", lambda: (len(modulus), bytes(exponent), bits, key_type, label), (256, b"\1\0\1", 2048, CKK_RSA, "py-rsa"))
    public_key = rsa.RSAPublicNumbers(65537, int.from_bytes(bytes(modulus), "big")).public_key()
    signature = bytes(session.sign(rsa_private, data, SHA256_RSA))
    ok("C_Sign CKM_SHA256_RSA_PKCS verified by cryptography", lambda: rsa_verify(public_key, signature, data))
    ok("C_Verify accepts it, rejects it damaged", lambda: (session.verify(rsa_public, data, signature, SHA256_RSA), session.verify(rsa_public, data, signature[:-1] + bytes([signature[-1] ^ 1]), SHA256_RSA)), (True, False))
    low, handle = session.lib, session.session
    # Two calls: a null buffer gives the length, one byte short is refused, the exact size is filled.
    low.C_SignInit(handle, SHA256_RSA.to_native(), rsa_private)
    for description, buffer, want in (("a null buffer gives the length", PyKCS11.ckbytelist(), (CKR_OK, 256)), ("255 bytes: CKR_BUFFER_TOO_SMALL", PyKCS11.ckbytelist([0] * 255), (CKR_BUFFER_TOO_SMALL, 255)),
                                      ("256 bytes: the signature", PyKCS11.ckbytelist([0] * 256), (CKR_OK, 256))):
        ok("C_Sign with " + description, lambda: (low.C_Sign(handle, PyKCS11.ckbytelist(data), buffer), len(buffer)), want)
    ok("the two-call signature is the one-call signature (PKCS#1 v1.5 is deterministic)", lambda: bytes(buffer), signature)
    final = PyKCS11.ckbytelist()
    calls = [lambda: low.C_SignInit(handle, SHA256_RSA.to_native(), rsa_private)] + [lambda part=part: low.C_SignUpdate(handle, PyKCS11.ckbytelist(part)) for part in (data[:7], data[7:60], data[60:])]
    ok("C_SignInit, C_SignUpdate x3, C_SignFinal (length, then signature)", lambda: [call() for call in calls + [lambda: low.C_SignFinal(handle, final)] * 2], [CKR_OK] * 6)
    ok("the multi-part signature verified by cryptography", lambda: rsa_verify(public_key, final, data))
    template = LowLevel.ckattrlist(2)
    template[0].SetType(CKA_LABEL)
    template[1].SetType(CKA_MODULUS)
    ok("C_GetAttributeValue: lengths, then values", lambda: (low.C_GetAttributeValue(handle, rsa_public, template), low.C_GetAttributeValue(handle, rsa_public, template), template[0].GetString(), len(template[1].GetBin())), (CKR_OK, CKR_OK, "py-rsa", 256))
    plain = b"a secret for the token"
    ok("C_Encrypt gives 256 bytes, C_Decrypt the text back", lambda: (len(c := session.encrypt(rsa_public, plain)), bytes(session.decrypt(rsa_private, c))), (256, plain))

    issuer_key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    imported = issuer_key.private_numbers()
    # A certificate for the token's key, written with C_CreateObject and read back.
    name = lambda cn: x509.Name([x509.NameAttribute(x509.NameOID.COMMON_NAME, cn)])
    now = datetime.datetime.now(datetime.timezone.utc)
    certificate = (x509.CertificateBuilder().subject_name(name("py-rsa")).issuer_name(name("PyKCS11 Test CA")).public_key(public_key).serial_number(0x1234567890)
                   .not_valid_before(now).not_valid_after(now + datetime.timedelta(days=30)).sign(issuer_key, hashes.SHA256()))
    der, subject = certificate.public_bytes(serialization.Encoding.DER), certificate.subject.public_bytes()
    cert = ok("C_CreateObject of a certificate", lambda: session.createObject([(CKA_CLASS, CKO_CERTIFICATE), (CKA_CERTIFICATE_TYPE, CKC_X_509), (CKA_TOKEN, True), (CKA_LABEL, "py-rsa"), (CKA_ID, (0x11,)), (CKA_VALUE, der), (CKA_SUBJECT, subject), (CKA_ISSUER, certificate.issuer.public_bytes())]))
    ok("certificate CKA_VALUE, CKA_SUBJECT, CKA_ISSUER, CKA_SERIAL_NUMBER read back", lambda: [bytes(v) for v in session.getAttributeValue(cert, [CKA_VALUE, CKA_SUBJECT, CKA_ISSUER, CKA_SERIAL_NUMBER], allAsBinary=True)], [der, subject, certificate.issuer.public_bytes(), bytes.fromhex("02051234567890")])
    values = (imported.public_numbers.n, imported.public_numbers.e, imported.d, imported.p, imported.q, imported.dmp1, imported.dmq1, imported.iqmp)
    key = ok("C_CreateObject of an RSA private key", lambda: session.createObject([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_KEY_TYPE, CKK_RSA), (CKA_TOKEN, True), (CKA_PRIVATE, True), (CKA_SIGN, True), (CKA_LABEL, "py-imported")] + [
        (attribute, value.to_bytes((value.bit_length() + 7) // 8, "big")) for attribute, value in zip((CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT), values)]))
    ok("the imported key signs, the original public key verifies", lambda: rsa_verify(imported.public_numbers.public_key(), session.sign(key, data, SHA256_RSA), data))

    digest = session.digestSession(Mechanism(CKM_SHA384))
    ok("multi-part SHA-384 matches hashlib", lambda: (digest.update(data[:10]), digest.update(data[10:]), bytes(digest.final()))[2], hashlib.sha384(data).digest())

    # One label and one ID per key pair: set through the private key, the public key follows.
    ok("C_SetAttributeValue CKA_LABEL: both keys renamed", lambda: (session.setAttributeValue(ec_private, [(CKA_LABEL, "py-ec-renamed")]), find(session, CKO_PRIVATE_KEY, CKA_LABEL, "py-ec-renamed"), find(session, CKO_PUBLIC_KEY, CKA_LABEL, "py-ec-renamed")), (None, [ec_private.value()], [ec_public.value()]))
    ok("C_SetAttributeValue CKA_ID: found by the new ID", lambda: (session.setAttributeValue(ec_private, [(CKA_ID, (0x21, 0x22))]), find(session, CKO_PRIVATE_KEY, CKA_ID, (0x21, 0x22))), (None, [ec_private.value()]))
    ec_private = session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_ID, (0x21, 0x22))])[0]
    ok("C_DestroyObject of the EC private key: both keys gone", lambda: (session.destroyObject(ec_private), find(session, CKO_PRIVATE_KEY, CKA_LABEL, "py-ec-renamed") + find(session, CKO_PUBLIC_KEY, CKA_LABEL, "py-ec-renamed")), (None, []))
    if session.findObjects([(CKA_LABEL, "py-ec-renamed")]):
        print("LIMITATION: a search template without CKA_CLASS returns every object (label, ID, value criteria apply only with a class)")
    ok("C_Logout: the other session is public again and sees no private key", lambda: (session.logout(), public.getSessionInfo().state, public.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY)])), (None, CKS_RO_PUBLIC_SESSION, []))
    public.closeSession()
    slot_events(lib, session)


def slot_events(lib, session):
    session.login(PIN)
    # The device monitor posts an event for the device present at start; drain it.
    deadline = time.time() + 5
    while lib.lib.C_WaitForSlotEvent(CKF_DONT_BLOCK, 0)[0] != CKR_NO_EVENT and time.time() < deadline:
        time.sleep(0.2)
    ok("no event pending before the unplug", lambda: lib.lib.C_WaitForSlotEvent(CKF_DONT_BLOCK, 0)[0], CKR_NO_EVENT)
    # PyKCS11 keeps the interpreter lock during a blocking C_WaitForSlotEvent,
    # so the change comes from a process started before the wait; a watchdog
    # thread (outside the interpreter) ends the run if the wait never returns.
    for action, slots in (("unplug", []), ("plug", [0x50000001])):
        changer = subprocess.Popen(["sh", "-c", 'sleep 1; exec "$0" "$1" "$2"', os.environ["SIM"], action, SERIAL], stdout=subprocess.DEVNULL)
        faulthandler.dump_traceback_later(20, exit=True)
        started = time.time()
        result = lib.lib.C_WaitForSlotEvent(0, 0)
        faulthandler.cancel_dump_traceback_later()
        waited = time.time() - started > 0.9
        ok("zelmor-sim %s: blocking C_WaitForSlotEvent returns slot 0x50000001 after it" % action, lambda: (changer.wait(20), tuple(result), waited), (0, (CKR_OK, 0x50000001), True))
        # The login ends with the device, and does not come back with it.
        ok("after %s: C_GetSlotList, the logged-in session is public" % action, lambda: (lib.getSlotList(tokenPresent=True), session.getSessionInfo().state), (slots, CKS_RW_PUBLIC_SESSION))
    ok("login and sign again after the device came back", lambda: (session.login(PIN), len(session.sign(session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_LABEL, "py-rsa")])[0], b"back", SHA256_RSA))), (None, 256))


# Leaves without unloading: a module fault in C_Finalize must not hang the run.
# An exception outside ok() ends the run with status 1, which lib.sh counts as a failure.
try:
    main()
except Exception:
    traceback.print_exc()
    os._exit(1)
os._exit(0)
