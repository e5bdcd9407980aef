// Access to session records under sessionTableMutex.
#pragma once

#include <mutex>

#include "frame/ModuleState.h"
#include "pkcs11.h"

namespace zelmor {

// Runs work(record) while holding sessionTableMutex. A session closed in the
// meantime gives CKR_SESSION_HANDLE_INVALID. work returns a CK_RV.
template <typename Work>
CK_RV withSession(SessionHandle handle, Work&& work) {
    ModuleState& module = moduleState();
    std::lock_guard<std::mutex> guard(module.sessionTableMutex);
    auto found = module.sessionTable.find(handle);
    if (found == module.sessionTable.end()) return CKR_SESSION_HANDLE_INVALID;
    return work(found->second);
}

}  // namespace zelmor
