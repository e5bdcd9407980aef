// Access to session records under sessionTableMutex.
//
// A call looks its session up once with lookUpSession, which gives the
// record's serial with the handle, and then reaches the record through
// withSession as often as it needs, device calls in between. Each of those
// look-ups refuses a record with another serial: a session closed meanwhile
// and a new one that got its handle are both "closed" for the call.
#pragma once

#include <limits>
#include <map>
#include <mutex>

#include "frame/ModuleState.h"
#include "pkcs11.h"

namespace zelmor {

// The first look-up of a call: CKR_SESSION_HANDLE_INVALID for a handle that
// names no open session.
inline CK_RV lookUpSession(CK_SESSION_HANDLE hSession, SessionRef* session) {
    if (hSession > std::numeric_limits<SessionHandle>::max()) return CKR_SESSION_HANDLE_INVALID;
    const SessionHandle handle = static_cast<SessionHandle>(hSession);
    ModuleState& module = moduleState();
    std::lock_guard<std::mutex> guard(module.sessionTableMutex);
    auto found = module.sessionTable.find(handle);
    if (found == module.sessionTable.end()) return CKR_SESSION_HANDLE_INVALID;
    *session = SessionRef{handle, found->second.serial};
    return CKR_OK;
}

// The record a later look-up of a call may use, or the table's end when the
// session was closed meanwhile or its handle now names another session. The
// caller holds sessionTableMutex.
using SessionMap = std::map<SessionHandle, SessionRecord>;
inline SessionMap::iterator findSession(SessionMap& table, SessionRef session) {
    auto found = table.find(session.handle);
    return found != table.end() && found->second.serial == session.serial ? found : table.end();
}

// Runs work(record) while holding sessionTableMutex. A session closed in the
// meantime, or replaced by a new one under the same handle, gives
// CKR_SESSION_HANDLE_INVALID. work returns a CK_RV.
template <typename Work>
CK_RV withSession(SessionRef session, Work&& work) {
    ModuleState& module = moduleState();
    std::lock_guard<std::mutex> guard(module.sessionTableMutex);
    auto found = findSession(module.sessionTable, session);
    if (found == module.sessionTable.end()) return CKR_SESSION_HANDLE_INVALID;
    return work(found->second);
}

}  // namespace zelmor
