// C_OpenSession, C_CloseSession, C_CloseAllSessions, C_GetSessionInfo.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_OpenSession(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR) {
    return initialised("C_OpenSession", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_CloseSession(CK_SESSION_HANDLE) {
    return initialised("C_CloseSession", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_CloseAllSessions(CK_SLOT_ID) {
    return initialised("C_CloseAllSessions", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE, CK_SESSION_INFO_PTR) {
    return initialised("C_GetSessionInfo", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
