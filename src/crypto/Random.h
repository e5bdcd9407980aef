// Random bytes from the session's device, written straight into the caller's
// buffer. Independent of the session's state, login and active operation.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

CK_RV generateRandom(SessionRef handle, CK_BYTE_PTR output, CK_ULONG length);

}  // namespace zelmor
