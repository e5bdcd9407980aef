// The value of each attribute of an object view.
#pragma once

#include <cstdint>
#include <vector>

#include "objects/ObjectView.h"
#include "pkcs11.h"

namespace zelmor {

// The bytes of attribute type of the object named handle. Types outside the
// table give no bytes. The issuer, serial number and subject of a
// certificate are asked of the device library on each call.
std::vector<uint8_t> attributeValue(const ObjectView& view, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_TYPE type);

}  // namespace zelmor
