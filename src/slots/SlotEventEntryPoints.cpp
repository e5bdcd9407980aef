// C_WaitForSlotEvent.
#include "frame/EntryPoint.h"
#include "slots/SlotEvents.h"

using namespace zelmor;

CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR /*pReserved*/) {
    return initialised("C_WaitForSlotEvent", [&] { return waitForSlotEvent(flags, pSlot); });
}
