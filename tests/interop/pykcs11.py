#!/usr/bin/python3
# PyKCS11 against the module and the device made by lib.sh (`tests/interop/lib.sh BUILD_DIR pykcs11`).
#
# What only Python exercises (the other applications cover the rest): multi-part signing and digests
# on the virtual device, RSA signatures checked with python3-cryptography, RSA key import, relabelling,
# and C_WaitForSlotEvent while zelmor-sim unplugs and plugs the device (size queries, C_Verify,
# C_Encrypt, module-wide login and searches without a class are left to the API and end-to-end
# suites, certificate import to pkcs11-tool, p11tool and certutil, single-part C_Sign checked by a
# third party to pkcs11-tool and the end-to-end tests).
# Prints PASS/FAIL/LIMITATION lines, which lib.sh counts.
import faulthandler, hashlib, os, subprocess, time, traceback  # noqa: E401

import PyKCS11
from PyKCS11 import Mechanism
from PyKCS11.LowLevel import *  # noqa: F403 (the CKA_, CKM_, CKR_... constants)
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import padding, rsa

PIN, SERIAL = os.environ["USER_PIN"], os.environ["DEVICE_SERIAL"]
SHA256_RSA = Mechanism(CKM_SHA256_RSA_PKCS)
RSA_PUBLIC = [(CKA_CLASS, CKO_PUBLIC_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_RSA), (CKA_MODULUS_BITS, 2048), (CKA_PUBLIC_EXPONENT, (1, 0, 1)), (CKA_VERIFY, True), (CKA_ENCRYPT, True), (CKA_LABEL, "py-rsa"), (CKA_ID, (0x11,))]
RSA_PRIVATE = [(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_TOKEN, True), (CKA_KEY_TYPE, CKK_RSA), (CKA_PRIVATE, True), (CKA_SENSITIVE, True), (CKA_SIGN, True), (CKA_DECRYPT, True), (CKA_LABEL, "py-rsa"), (CKA_ID, (0x11,))]


# One step: FUNCTION() must return WANT (anything when not given); an exception fails it. Gives the result.
def ok(description, function, want=...):
    try:
        got = function()
        good = want is ... or got == want
    except Exception as error:
        good, got = False, "%s: %s" % (type(error).__name__, error)
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
    ok("C_Login: the session is in the user state", lambda: (session.login(PIN), session.getSessionInfo().state), (None, CKS_RW_USER_FUNCTIONS))

    rsa_public, rsa_private = ok("C_GenerateKeyPair RSA-2048", lambda: session.generateKeyPair(RSA_PUBLIC, RSA_PRIVATE, Mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN)))

    data = b"Data signed from PyKCS11 on the virtual device.\n" * 3
    modulus = session.getAttributeValue(rsa_public, [CKA_MODULUS])[0]
    public_key = rsa.RSAPublicNumbers(65537, int.from_bytes(bytes(modulus), "big")).public_key()
    low, handle, final = session.lib, session.session, PyKCS11.ckbytelist()
    calls = [lambda: low.C_SignInit(handle, SHA256_RSA.to_native(), rsa_private)] + [lambda part=part: low.C_SignUpdate(handle, PyKCS11.ckbytelist(part)) for part in (data[:7], data[7:60], data[60:])]
    ok("C_SignInit, C_SignUpdate x3, C_SignFinal (length, then signature)", lambda: [call() for call in calls + [lambda: low.C_SignFinal(handle, final)] * 2], [CKR_OK] * 6)
    ok("the multi-part signature verified by cryptography", lambda: rsa_verify(public_key, final, data))

    imported = rsa.generate_private_key(public_exponent=65537, key_size=2048).private_numbers()
    values = (imported.public_numbers.n, imported.public_numbers.e, imported.d, imported.p, imported.q, imported.dmp1, imported.dmq1, imported.iqmp)
    key = ok("C_CreateObject of an RSA private key", lambda: session.createObject([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_KEY_TYPE, CKK_RSA), (CKA_TOKEN, True), (CKA_PRIVATE, True), (CKA_SIGN, True), (CKA_LABEL, "py-imported")] + [
        (attribute, value.to_bytes((value.bit_length() + 7) // 8, "big")) for attribute, value in zip((CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT), values)]))
    ok("the imported key signs, the original public key verifies", lambda: rsa_verify(imported.public_numbers.public_key(), session.sign(key, data, SHA256_RSA), data))

    digest = session.digestSession(Mechanism(CKM_SHA384))
    ok("multi-part SHA-384 matches hashlib", lambda: (digest.update(data[:10]), digest.update(data[10:]), bytes(digest.final()))[2], hashlib.sha384(data).digest())

    # One label per key pair: set through the private key, the public key follows (a new ID: pkcs11-tool).
    ok("C_SetAttributeValue CKA_LABEL: both keys renamed", lambda: (session.setAttributeValue(rsa_private, [(CKA_LABEL, "py-renamed")]), find(session, CKO_PRIVATE_KEY, CKA_LABEL, "py-renamed"), find(session, CKO_PUBLIC_KEY, CKA_LABEL, "py-renamed")), (None, [rsa_private.value()], [rsa_public.value()]))
    ok("C_DestroyObject of the RSA private key: both keys gone", lambda: (session.destroyObject(rsa_private), find(session, CKO_PRIVATE_KEY, CKA_LABEL, "py-renamed") + find(session, CKO_PUBLIC_KEY, CKA_LABEL, "py-renamed")), (None, []))
    slot_events(lib, session)


def slot_events(lib, session):  # the session logged in
    # The device monitor posts an event for the device present at start; drain it (an event still
    # pending would end the blocking wait below at once, which its check sees).
    deadline = time.time() + 5
    while lib.lib.C_WaitForSlotEvent(CKF_DONT_BLOCK, 0)[0] != CKR_NO_EVENT and time.time() < deadline:
        time.sleep(0.2)
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
    ok("login and sign again after the device came back", lambda: (session.login(PIN), len(session.sign(session.findObjects([(CKA_CLASS, CKO_PRIVATE_KEY), (CKA_LABEL, "py-imported")])[0], b"back", SHA256_RSA))), (None, 256))


# Leaves without unloading: a module fault in C_Finalize must not hang the run.
# An exception outside ok() ends the run with status 1, which lib.sh counts as a failure.
try:
    main()
except Exception:
    traceback.print_exc()
    os._exit(1)
os._exit(0)
