// Reading the caller's search template into the criteria of one search.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pkcs11.h"

namespace zelmor {

// The class of a template without CKA_CLASS.
constexpr CK_OBJECT_CLASS noObjectClass = 0x80000000;

struct SearchCriteria {
    CK_OBJECT_CLASS objectClass = noObjectClass;
    std::optional<std::string> label;
    std::optional<std::vector<uint8_t>> value;
    std::optional<std::vector<uint8_t>> subject;
    std::optional<std::vector<uint8_t>> id;
    std::optional<std::vector<uint8_t>> modulus;
    std::optional<std::vector<uint8_t>> ecPoint;  // only under the standards setting
};

// Reads count entries of searchTemplate (non-null when count is not 0) in
// order, logging as it goes; a later entry of a type replaces an earlier one.
// CKR_ATTRIBUTE_VALUE_INVALID for an entry without a value or a class of the
// wrong size. CKA_EC_POINT is a criterion only when withEcPoint is set.
CK_RV readSearchTemplate(const CK_ATTRIBUTE* searchTemplate, CK_ULONG count, bool withEcPoint,
                         SearchCriteria* criteria);

}  // namespace zelmor
