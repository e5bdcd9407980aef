// C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) {
    return initialised("C_FindObjectsInit", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_FindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR, CK_ULONG, CK_ULONG_PTR) {
    return initialised("C_FindObjects", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE) {
    return initialised("C_FindObjectsFinal", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
