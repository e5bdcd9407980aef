// The work of C_GetAttributeValue and C_GetObjectSize: the object is read
// afresh from the device library on every call.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

CK_RV readAttributes(SessionRef session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count);
CK_RV readObjectSize(SessionRef session, CK_OBJECT_HANDLE handle, CK_ULONG_PTR size);

}  // namespace zelmor
