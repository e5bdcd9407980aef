// Message digests computed by the device library: one hash context per
// digest operation, the finished digest kept in the session's outputCache
// until the caller fetches it. Device failures do not end a digest.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

CK_RV digestInit(SessionRef handle, CK_MECHANISM_PTR mechanism);
CK_RV digest(SessionRef handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR digest,
             CK_ULONG_PTR digestLength);
CK_RV digestUpdate(SessionRef handle, CK_BYTE_PTR part, CK_ULONG partLength);
CK_RV digestFinal(SessionRef handle, CK_BYTE_PTR digest, CK_ULONG_PTR digestLength);

}  // namespace zelmor
