#include "objects/creation/GenerationRequest.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "frame/Log.h"
#include "objects/creation/CreationTemplate.h"

namespace zelmor {

namespace {

// DER encodings of the named-curve identifiers on offer.
const uint8_t curveP256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const uint8_t curveP384[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};
const uint8_t curveP521[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};

template <std::size_t N>
bool valueEquals(const CK_ATTRIBUTE& attribute, const uint8_t (&expected)[N]) {
    return attribute.ulValueLen == N && std::memcmp(attribute.pValue, expected, N) == 0;
}

bool firstByteSet(const CK_ATTRIBUTE& attribute) { return *static_cast<const uint8_t*>(attribute.pValue) != 0; }

// Reads the private-key template; keyType and usage collect what it gives.
CK_RV readPrivateTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count, ZelmorKeyPair* request,
                          CK_ULONG* keyType) {
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& attribute = attributes[i];
        if (!hasValue(attribute)) continue;
        switch (attribute.type) {
            case CKA_LABEL: {
                std::size_t length = std::min<std::size_t>(attribute.ulValueLen, zelmorLabelSize);
                // The label field has one byte beyond 128 for the NUL of a full label.
                std::memset(request->label, 0, sizeof request->label);
                std::memcpy(request->label, attribute.pValue, length);
                break;
            }
            case CKA_KEY_TYPE:
                if (!readUlongValue(attribute, keyType)) return CKR_ATTRIBUTE_VALUE_INVALID;
                break;
            case CKA_ID: {
                std::size_t length = std::min<std::size_t>(attribute.ulValueLen, zelmorIdSize);
                std::memset(request->id, 0, sizeof request->id);
                std::memcpy(request->id, attribute.pValue, length);
                request->idLength = static_cast<int32_t>(length);
                break;
            }
            case CKA_DECRYPT:
                if (firstByteSet(attribute)) request->usageFlags |= keyUsageDecrypt;
                break;
            case CKA_SIGN:
                if (firstByteSet(attribute)) request->usageFlags |= keyUsageSign;
                break;
            default:
                break;
        }
    }
    return CKR_OK;
}

CK_RV rsaKindFromBits(CK_ULONG bits, uint32_t* kind) {
    switch (bits) {
        case 1024: *kind = keyKindRsa1024; return CKR_OK;
        case 2048: *kind = keyKindRsa2048; return CKR_OK;
        case 3072: *kind = keyKindRsa3072; return CKR_OK;
        case 4096: *kind = keyKindRsa4096; return CKR_OK;
        default: return CKR_MECHANISM_INVALID;
    }
}

CK_RV ecKindFromParameters(const CK_ATTRIBUTE& attribute, uint32_t* kind) {
    if (valueEquals(attribute, curveP256)) *kind = keyKindEcP256;
    else if (valueEquals(attribute, curveP384)) *kind = keyKindEcP384;
    else if (valueEquals(attribute, curveP521)) *kind = keyKindEcP521;
    else return CKR_MECHANISM_INVALID;
    return CKR_OK;
}

// Reads the size or curve from the public-key template for the key type.
CK_RV readPublicTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ULONG keyType, uint32_t* kind) {
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& attribute = attributes[i];
        if (!hasValue(attribute)) continue;
        CK_RV rv = CKR_OK;
        if (keyType == CKK_RSA && attribute.type == CKA_MODULUS_BITS) {
            CK_ULONG bits = 0;
            if (!readUlongValue(attribute, &bits)) return CKR_ATTRIBUTE_VALUE_INVALID;
            logDebug("C_GenerateKeyPair - modulusBits : " + std::to_string(bits));
            rv = rsaKindFromBits(bits, kind);
        } else if (keyType == CKK_EC && attribute.type == CKA_EC_PARAMS) {
            rv = ecKindFromParameters(attribute, kind);
        }
        if (rv != CKR_OK) return rv;
    }
    return CKR_OK;
}

}  // namespace

CK_RV buildGenerationRequest(const CK_ATTRIBUTE* publicTemplate, CK_ULONG publicCount,
                             const CK_ATTRIBUTE* privateTemplate, CK_ULONG privateCount, CK_KEY_TYPE defaultKeyType,
                             ZelmorKeyPair* request) {
    std::memset(request, 0, sizeof *request);
    request->keyKind = keyKindRsa2048;

    CK_ULONG keyType = defaultKeyType;
    CK_RV rv = readPrivateTemplate(privateTemplate, privateCount, request, &keyType);
    if (rv != CKR_OK) return rv;
    if (request->usageFlags == 0) request->usageFlags = keyUsageSign;
    logDebug("C_GenerateKeyPair - keytype : " + std::to_string(keyType));

    rv = readPublicTemplate(publicTemplate, publicCount, keyType, &request->keyKind);
    if (rv != CKR_OK) return rv;
    // An EC request without a curve gets P-256; any other key type keeps RSA 2048.
    if (keyType == CKK_EC && request->keyKind < keyKindEcP256) request->keyKind = keyKindEcP256;
    return CKR_OK;
}

}  // namespace zelmor
