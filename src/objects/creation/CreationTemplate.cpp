#include "objects/creation/CreationTemplate.h"

#include <cstring>

#include "frame/Log.h"

namespace zelmor {

namespace {
ZelmorBytes bytesOf(const CK_ATTRIBUTE& attribute) {
    const uint8_t* data = static_cast<const uint8_t*>(attribute.pValue);
    return ZelmorBytes(data, data + attribute.ulValueLen);
}
}  // namespace

bool readUlongValue(const CK_ATTRIBUTE& attribute, CK_ULONG* value) {
    if (attribute.pValue == nullptr || attribute.ulValueLen < sizeof(CK_ULONG)) return false;
    std::memcpy(value, attribute.pValue, sizeof(CK_ULONG));
    return true;
}

void wipeBytes(ZelmorBytes& bytes) {
    volatile uint8_t* data = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) data[i] = 0;
    bytes.clear();
}

CreationTemplate::~CreationTemplate() {
    wipeBytes(privateExponent);
    wipeBytes(prime1);
}

CK_RV readCreationTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count, CreationTemplate* result) {
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& attribute = attributes[i];
        if (!hasValue(attribute)) continue;
        logDebug("C_CreateObject - attrip type : " + std::to_string(attribute.type));
        switch (attribute.type) {
            case CKA_CLASS:
                if (!readUlongValue(attribute, &result->objectClass)) return CKR_ATTRIBUTE_VALUE_INVALID;
                break;
            case CKA_KEY_TYPE:
                if (!readUlongValue(attribute, &result->keyType)) return CKR_ATTRIBUTE_VALUE_INVALID;
                break;
            case CKA_LABEL:
                result->label.assign(static_cast<const char*>(attribute.pValue), attribute.ulValueLen);
                break;
            case CKA_VALUE:
                result->value = bytesOf(attribute);
                break;
            case CKA_ID:
                result->id = bytesOf(attribute);
                break;
            case CKA_MODULUS:
                result->modulus = bytesOf(attribute);
                break;
            case CKA_PRIVATE_EXPONENT:
                wipeBytes(result->privateExponent);
                result->privateExponent = bytesOf(attribute);
                break;
            case CKA_PRIME_1:
                wipeBytes(result->prime1);
                result->prime1 = bytesOf(attribute);
                break;
            default:
                break;
        }
    }
    return CKR_OK;
}

}  // namespace zelmor
