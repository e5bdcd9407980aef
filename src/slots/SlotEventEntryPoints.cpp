// C_WaitForSlotEvent.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR) {
    return initialised("C_WaitForSlotEvent", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
