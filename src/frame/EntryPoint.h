// The shared prologue of every entry point: trace the name, check that the
// module is initialised, look the session up, and keep exceptions inside.
// Each C_ function is one call to one of these with its work as a lambda.
#pragma once

#include <new>

#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "pkcs11.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

// Runs body and turns any exception into a result code.
template <typename Body>
CK_RV guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// Entry points that work whether or not the module is initialised.
template <typename Body>
CK_RV anyState(const char* name, Body&& body) noexcept {
    return guarded([&]() -> CK_RV {
        logDebug(name);
        return body();
    });
}

// Entry points that need an initialised module. The body runs inside the
// call gate: C_Finalize waits for it to end before it tears the module down,
// and a call that starts while C_Finalize runs is refused.
template <typename Body>
CK_RV initialised(const char* name, Body&& body) noexcept {
    return guarded([&]() -> CK_RV {
        logDebug(name);
        ModuleState& module = moduleState();
        CallGate::Pass pass(module.callGate);
        if (!pass.admitted() || !module.isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
        return body();
    });
}

// Entry points that take a session handle. body receives the session as the
// first look-up found it (see sessions/SessionAccess.h); it must take
// sessionTableMutex itself, through withSession, for each access to the
// record and never hold it across a device-library call.
template <typename Body>
CK_RV bySession(const char* name, CK_SESSION_HANDLE hSession, Body&& body) noexcept {
    return initialised(name, [&]() -> CK_RV {
        SessionRef session;
        CK_RV rv = lookUpSession(hSession, &session);
        if (rv != CKR_OK) return rv;
        return body(session);
    });
}

// Entry points the module does not offer: trace and refuse, nothing else.
inline CK_RV unsupported(const char* name) noexcept {
    return anyState(name, [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

}  // namespace zelmor
