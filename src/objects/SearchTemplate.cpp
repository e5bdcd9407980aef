#include "objects/SearchTemplate.h"

#include <cstring>

#include "frame/Log.h"

namespace zelmor {

namespace {

// Exactly ulValueLen bytes of the entry; nothing beyond is read.
std::vector<uint8_t> valueBytes(const CK_ATTRIBUTE& entry) {
    const auto* bytes = static_cast<const uint8_t*>(entry.pValue);
    return std::vector<uint8_t>(bytes, bytes + entry.ulValueLen);
}

// The bytes up to the first NUL, or all ulValueLen bytes when there is none.
std::string labelText(const CK_ATTRIBUTE& entry) {
    const char* text = static_cast<const char*>(entry.pValue);
    const void* end = std::memchr(text, 0, entry.ulValueLen);
    std::size_t length = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text)
                                        : static_cast<std::size_t>(entry.ulValueLen);
    return std::string(text, length);
}

}  // namespace

CK_RV readSearchTemplate(const CK_ATTRIBUTE* searchTemplate, CK_ULONG count, bool withEcPoint,
                         SearchCriteria* criteria) {
    *criteria = SearchCriteria();
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& entry = searchTemplate[i];
        if (entry.pValue == nullptr || entry.ulValueLen == 0) return CKR_ATTRIBUTE_VALUE_INVALID;
        logDebug("Find object init type : " + std::to_string(entry.type));
        switch (entry.type) {
            case CKA_CLASS: {
                if (entry.ulValueLen != sizeof(CK_OBJECT_CLASS)) return CKR_ATTRIBUTE_VALUE_INVALID;
                CK_OBJECT_CLASS objectClass = 0;
                std::memcpy(&objectClass, entry.pValue, sizeof objectClass);
                criteria->objectClass = objectClass;
                logDebug("Find object class : " + std::to_string(objectClass));
                break;
            }
            case CKA_LABEL: criteria->label = labelText(entry); break;
            case CKA_VALUE: criteria->value = valueBytes(entry); break;
            case CKA_SUBJECT: criteria->subject = valueBytes(entry); break;
            case CKA_ID: criteria->id = valueBytes(entry); break;
            case CKA_MODULUS:
                logDebug("Modulus provided length : " + std::to_string(entry.ulValueLen));
                criteria->modulus = valueBytes(entry);
                break;
            case CKA_EC_POINT:
                if (withEcPoint) criteria->ecPoint = valueBytes(entry);
                break;
            default: break;
        }
    }
    return CKR_OK;
}

}  // namespace zelmor
