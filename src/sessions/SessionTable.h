// The session table: opening, closing and describing sessions, and the
// handle rule (the largest open handle plus one, firstSessionHandle when the
// table is empty).
#pragma once

#include <map>
#include <vector>

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// The handle for the next session of table. Caller holds sessionTableMutex.
SessionHandle nextSessionHandle(const std::map<SessionHandle, SessionRecord>& table);

// The number of sessions in state, over all slots; takes sessionTableMutex.
CK_ULONG countSessionsInState(CK_STATE state);

// Takes the hash contexts of unfinished digests out of every session of
// table. Caller holds sessionTableMutex.
std::vector<ZelmorHashContext> takeHashContexts(std::map<SessionHandle, SessionRecord>& table);

// Finishes hash contexts of removed sessions; the device library offers no
// other way to release a context. Called without sessionTableMutex.
void releaseHashContexts(const std::vector<ZelmorHashContext>& contexts);

// The session entry points after their prologue.
CK_RV openSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session);
CK_RV closeSession(SessionRef session);
CK_RV closeAllSessions(CK_SLOT_ID slotID);
CK_RV getSessionInfo(SessionRef handle, CK_SESSION_INFO_PTR info);

}  // namespace zelmor
