// The work of C_FindObjectsInit, C_FindObjects and C_FindObjectsFinal. The
// session exists when these are called (checked by the prologue); each looks
// it up again under sessionTableMutex.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

CK_RV findObjectsInit(SessionRef session, CK_ATTRIBUTE_PTR searchTemplate, CK_ULONG count);
CK_RV findObjects(SessionRef session, CK_OBJECT_HANDLE_PTR handles, CK_ULONG maxCount, CK_ULONG_PTR count);
CK_RV findObjectsFinal(SessionRef session);

}  // namespace zelmor
