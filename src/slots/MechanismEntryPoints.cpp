// C_GetMechanismList, C_GetMechanismInfo.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_GetMechanismList(CK_SLOT_ID, CK_MECHANISM_TYPE_PTR, CK_ULONG_PTR) {
    return initialised("C_GetMechanismList", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID, CK_MECHANISM_TYPE, CK_MECHANISM_INFO_PTR) {
    return initialised("C_GetMechanismInfo", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
