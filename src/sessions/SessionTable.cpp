#include "sessions/SessionTable.h"

#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "crypto/HashContext.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"
#include "slots/SlotCache.h"

namespace zelmor {

SessionHandle nextSessionHandle(const std::map<SessionHandle, SessionRecord>& table) {
    if (table.empty()) return firstSessionHandle;
    const SessionHandle largest = table.rbegin()->first;
    if (largest < std::numeric_limits<SessionHandle>::max()) return largest + 1;
    // The largest handle is the last 32-bit value: take the lowest free one
    // from firstSessionHandle instead of wrapping to 0.
    SessionHandle candidate = firstSessionHandle;
    for (auto entry = table.lower_bound(candidate); entry != table.end() && entry->first == candidate; ++entry) {
        ++candidate;
    }
    return candidate;
}

CK_ULONG countSessionsInState(CK_STATE state) {
    ModuleState& module = moduleState();
    std::lock_guard<std::mutex> guard(module.sessionTableMutex);
    CK_ULONG count = 0;
    for (const auto& entry : module.sessionTable) {
        if (entry.second.state == state) ++count;
    }
    return count;
}

CK_RV openSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session) {
    // Copied under the slot cache lock, which is released before the session
    // table is locked.
    std::optional<TokenInfo> token = findSlot(slotID);
    if (!token) return CKR_SLOT_ID_INVALID;
    if (!(flags & CKF_SERIAL_SESSION)) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (session == nullptr) return CKR_ARGUMENTS_BAD;

    SessionRecord record;
    record.slotId = static_cast<SlotId>(slotID);  // findSlot accepts 32-bit IDs only
    record.tokenInfo = std::move(*token);
    const bool readWrite = (flags & CKF_RW_SESSION) != 0;

    SessionHandle handle = 0;
    {
        ModuleState& module = moduleState();
        std::lock_guard<std::mutex> guard(module.sessionTableMutex);
        const bool loggedIn = !module.userPassword.empty();
        record.state = readWrite ? (loggedIn ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION)
                                 : (loggedIn ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION);
        record.serial = ++module.lastSessionSerial;
        handle = nextSessionHandle(module.sessionTable);
        module.sessionTable.emplace(handle, std::move(record));
    }
    *session = handle;
    logDebug("Opensession  : " + std::to_string(handle));
    return CKR_OK;
}

std::vector<ZelmorHashContext> takeHashContexts(std::map<SessionHandle, SessionRecord>& table) {
    std::vector<ZelmorHashContext> contexts;  // null ones included: releasing ignores them
    for (auto& entry : table) contexts.push_back(std::exchange(entry.second.hashContext, nullptr));
    return contexts;
}

void releaseHashContexts(const std::vector<ZelmorHashContext>& contexts) {
    for (ZelmorHashContext context : contexts) releaseHashContext(context);
}

CK_RV closeSession(SessionRef session) {
    ModuleState& module = moduleState();
    ZelmorHashContext unfinished = nullptr;
    {
        std::lock_guard<std::mutex> guard(module.sessionTableMutex);
        auto found = findSession(module.sessionTable, session);
        // Closed by another thread since the prologue's lookup (and maybe
        // its handle given to a new session): nothing to close.
        if (found == module.sessionTable.end()) return CKR_SESSION_HANDLE_INVALID;
        unfinished = found->second.hashContext;
        module.sessionTable.erase(found);
    }
    releaseHashContext(unfinished);
    return CKR_OK;
}

CK_RV closeAllSessions(CK_SLOT_ID slotID) {
    if (!findSlot(slotID)) return CKR_SLOT_ID_INVALID;
    std::vector<ZelmorHashContext> unfinished;
    {
        // Sessions of every slot go: there is one table for all slots.
        ModuleState& module = moduleState();
        std::lock_guard<std::mutex> guard(module.sessionTableMutex);
        unfinished = takeHashContexts(module.sessionTable);
        module.sessionTable.clear();
    }
    releaseHashContexts(unfinished);
    logDebug("Close all session");
    return CKR_OK;
}

CK_RV getSessionInfo(SessionRef handle, CK_SESSION_INFO_PTR info) {
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    SlotId slotId = 0;
    uint32_t state = 0;
    CK_RV rv = withSession(handle, [&](SessionRecord& session) {
        slotId = session.slotId;
        state = session.state;
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;
    info->slotID = slotId;
    info->state = state;
    info->flags = isReadOnlyState(state) ? CKF_SERIAL_SESSION : CKF_SERIAL_SESSION | CKF_RW_SESSION;
    info->ulDeviceError = 0;
    return CKR_OK;
}

}  // namespace zelmor
