// Turning the two key-generation templates into the device library's
// request record.
#pragma once

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"

namespace zelmor {

// Fills request from the templates: label, ID and usage flags from the
// private-key template, the key type from the private-key template too
// (defaultKeyType when it gives none), the RSA size or EC curve from the
// public-key template. Defaults: RSA 2048, P-256 for EC, signing.
// CKR_MECHANISM_INVALID for an RSA size or EC curve on offer nowhere;
// CKR_ATTRIBUTE_VALUE_INVALID for a CKA_KEY_TYPE or CKA_MODULUS_BITS value
// shorter than a CK_ULONG.
CK_RV buildGenerationRequest(const CK_ATTRIBUTE* publicTemplate, CK_ULONG publicCount,
                             const CK_ATTRIBUTE* privateTemplate, CK_ULONG privateCount, CK_KEY_TYPE defaultKeyType,
                             ZelmorKeyPair* request);

}  // namespace zelmor
