// The session table: opening, closing and describing sessions, and the
// handle rule (the largest open handle plus one, firstSessionHandle when the
// table is empty).
#pragma once

#include <map>

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// The handle for the next session of table. Caller holds sessionTableMutex.
SessionHandle nextSessionHandle(const std::map<SessionHandle, SessionRecord>& table);

// The number of sessions in state, over all slots; takes sessionTableMutex.
CK_ULONG countSessionsInState(CK_STATE state);

// The session entry points after their prologue.
CK_RV openSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session);
CK_RV closeSession(SessionHandle handle);
CK_RV closeAllSessions(CK_SLOT_ID slotID);
CK_RV getSessionInfo(SessionHandle handle, CK_SESSION_INFO_PTR info);

}  // namespace zelmor
