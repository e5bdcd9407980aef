// C_Login, C_Logout, C_SetPIN.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_Login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG) {
    return initialised("C_Login", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_Logout(CK_SESSION_HANDLE) {
    return initialised("C_Logout", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_SetPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR, CK_ULONG) {
    return initialised("C_SetPIN", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
