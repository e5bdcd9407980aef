// C_GetAttributeValue, C_SetAttributeValue, C_GetObjectSize, C_DestroyObject.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) {
    return initialised("C_GetAttributeValue", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) {
    return initialised("C_SetAttributeValue", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR) {
    return initialised("C_GetObjectSize", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) {
    return initialised("C_DestroyObject", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
