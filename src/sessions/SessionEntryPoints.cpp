// C_OpenSession, C_CloseSession, C_CloseAllSessions, C_GetSessionInfo.
#include "frame/EntryPoint.h"
#include "sessions/SessionTable.h"

using namespace zelmor;

CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR /*pApplication*/, CK_NOTIFY /*Notify*/,
                    CK_SESSION_HANDLE_PTR phSession) {
    return initialised("C_OpenSession", [&] { return openSession(slotID, flags, phSession); });
}

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    return bySession("C_CloseSession", hSession, [](SessionRef handle) { return closeSession(handle); });
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    return initialised("C_CloseAllSessions", [&] { return closeAllSessions(slotID); });
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    return bySession("C_GetSessionInfo", hSession,
                     [&](SessionRef handle) { return getSessionInfo(handle, pInfo); });
}
