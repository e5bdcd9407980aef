// The work of C_SetAttributeValue: a new label or ID for a key pair, through
// either of its key handles.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

CK_RV writeAttributes(SessionRef session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count);

}  // namespace zelmor
