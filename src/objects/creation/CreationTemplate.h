// Reading the template of C_CreateObject: the values certificate and key
// import take from it, read once, in order.
#pragma once

#include <string>

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"

namespace zelmor {

// True for an entry that carries a value; entries with a null pointer or a
// zero length are skipped wherever objects are created or keys generated.
inline bool hasValue(const CK_ATTRIBUTE& attribute) {
    return attribute.pValue != nullptr && attribute.ulValueLen != 0;
}

// Reads a CK_ULONG-typed value. False when the value is shorter than a
// CK_ULONG; never reads more than sizeof(CK_ULONG) bytes of it.
bool readUlongValue(const CK_ATTRIBUTE& attribute, CK_ULONG* value);

// The values of a creation template; a later entry of a type replaces an
// earlier one. The private key components are wiped when it goes.
struct CreationTemplate {
    CK_ULONG objectClass = CKO_CERTIFICATE;
    CK_ULONG keyType = CKK_RSA;
    std::string label;
    ZelmorBytes value;
    ZelmorBytes id;
    ZelmorBytes modulus;
    ZelmorBytes privateExponent;
    ZelmorBytes prime1;

    CreationTemplate() = default;
    ~CreationTemplate();
    CreationTemplate(const CreationTemplate&) = delete;
    CreationTemplate& operator=(const CreationTemplate&) = delete;
};

// Overwrites the bytes before they are released.
void wipeBytes(ZelmorBytes& bytes);

// Walks the template, logging the type of every entry that carries a value.
// CKR_ATTRIBUTE_VALUE_INVALID for a CKA_CLASS or CKA_KEY_TYPE value shorter
// than a CK_ULONG.
CK_RV readCreationTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count, CreationTemplate* result);

}  // namespace zelmor
