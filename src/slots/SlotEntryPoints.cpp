// C_GetSlotList, C_GetSlotInfo, C_GetTokenInfo.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_GetSlotList(CK_BBOOL, CK_SLOT_ID_PTR, CK_ULONG_PTR) {
    return initialised("C_GetSlotList", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_GetSlotInfo(CK_SLOT_ID, CK_SLOT_INFO_PTR) {
    return initialised("C_GetSlotInfo", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_GetTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO_PTR) {
    return initialised("C_GetTokenInfo", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
