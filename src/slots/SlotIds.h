#pragma once

#include "sessions/SessionRecord.h"

namespace zelmor {
// Slot IDs are firstSlotId plus the device's position.
constexpr SlotId firstSlotId = 0x50000001;
}  // namespace zelmor
