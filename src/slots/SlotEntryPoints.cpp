// C_GetSlotList, C_GetSlotInfo, C_GetTokenInfo.
#include "frame/EntryPoint.h"
#include "slots/SlotCache.h"
#include "slots/TokenInformation.h"

using namespace zelmor;

CK_RV C_GetSlotList(CK_BBOOL /*tokenPresent: every slot holds its token*/, CK_SLOT_ID_PTR pSlotList,
                    CK_ULONG_PTR pulCount) {
    return initialised("C_GetSlotList", [&] { return listSlots(pSlotList, pulCount); });
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    return initialised("C_GetSlotInfo", [&] { return getSlotInformation(slotID, pInfo); });
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    return initialised("C_GetTokenInfo", [&] { return getTokenInformation(slotID, pInfo); });
}
