// Slot events: one pending flag set by the session monitor and collected by
// C_WaitForSlotEvent. Events are not queued; every event names firstSlotId.
#pragma once

#include "pkcs11.h"

namespace zelmor {

// Marks an event pending and wakes every blocked waiter.
void postSlotEvent();

// C_WaitForSlotEvent after the prologue. Blocking waits end with
// CKR_CRYPTOKI_NOT_INITIALIZED when the monitor is stopped.
CK_RV waitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slot);

}  // namespace zelmor
