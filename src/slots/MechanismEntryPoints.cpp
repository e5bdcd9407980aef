// C_GetMechanismList, C_GetMechanismInfo. The slot ID is not examined: every
// slot offers the same mechanisms.
#include "frame/EntryPoint.h"
#include "slots/MechanismTable.h"

using namespace zelmor;

CK_RV C_GetMechanismList(CK_SLOT_ID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
    return initialised("C_GetMechanismList", [&] { return listMechanisms(pMechanismList, pulCount); });
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    return initialised("C_GetMechanismInfo", [&] { return describeMechanism(type, pInfo); });
}
