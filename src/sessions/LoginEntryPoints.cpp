// C_Login, C_Logout, C_SetPIN.
#include "frame/EntryPoint.h"
#include "sessions/Login.h"

using namespace zelmor;

CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    return bySession("C_Login", hSession,
                     [&](SessionRef handle) { return login(handle, userType, pPin, ulPinLen); });
}

CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
    return bySession("C_Logout", hSession, [](SessionRef handle) { return logout(handle); });
}

CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
               CK_ULONG ulNewLen) {
    return bySession("C_SetPIN", hSession, [&](SessionRef handle) {
        return setPin(handle, pOldPin, ulOldLen, pNewPin, ulNewLen);
    });
}

