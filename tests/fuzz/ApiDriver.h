// Drives the module's entry points from a stream of decisions: each step
// takes one row of a table of entry points, draws that call's arguments
// (handles, flags, mechanisms, templates, buffers, PINs) and checks that the
// result is one the entry point may return. The fuzzers feed it their input,
// the stress program random bytes.
#pragma once

#include <deque>

#include "FuzzInput.h"
#include "pkcs11.h"

namespace fuzzing {

inline constexpr CK_ATTRIBUTE_TYPE attributeTypes[] = {
    CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_VALUE, CKA_CERTIFICATE_TYPE, CKA_ISSUER, CKA_SERIAL_NUMBER,
    CKA_TRUSTED, CKA_KEY_TYPE, CKA_SUBJECT, CKA_ID, CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP, CKA_SIGN,
    CKA_VERIFY, CKA_MODULUS, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_EXTRACTABLE, CKA_LOCAL,
    CKA_KEY_GEN_MECHANISM, CKA_MODIFIABLE, CKA_EC_PARAMS, CKA_EC_POINT, CKA_APPLICATION, CKA_VENDOR_DEFINED};

struct ApiDriver {
    // One call; false, said on stderr, when its result is not one the entry point may return.
    bool step(FuzzInput& in);
    // Closes the sessions this driver opened and knows of.
    ~ApiDriver() { for (CK_SESSION_HANDLE handle : sessions) f->C_CloseSession(handle); }

    CK_FUNCTION_LIST_PTR f;
    bool rightPinOnly = false;  // for the stress run, which must not lock the token
    std::deque<CK_SESSION_HANDLE> sessions{};  // opened, for reuse (and a zero for each failed try)
    std::deque<CK_OBJECT_HANDLE> objects{};    // created or found, likewise
};

}  // namespace fuzzing
