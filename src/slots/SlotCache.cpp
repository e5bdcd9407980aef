#include "slots/SlotCache.h"

#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "slots/SlotIds.h"

namespace zelmor {

// Slot numbering: the device at position i of the connected-device list gets
// slot ID firstSlotId + i, and the cache remembers which device identifier
// each handed-out slot ID stands for. findSlot follows that record, so a slot
// ID reaches the device it was given for even when the library lists devices
// out of identifier order or lists one without a serial number. For a list in
// ascending identifier order where every device has a serial number this is
// the same as counting the cache entries in key order.

CK_RV listSlots(CK_SLOT_ID_PTR slotList, CK_ULONG_PTR count) {
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    ModuleState& module = moduleState();
    ZelmorInstance instance = module.instance();

    const std::vector<std::string> devices = zelmor_getConnectedDeviceList(false, instance);
    if (devices.empty()) {
        {
            std::lock_guard<std::mutex> guard(module.slotCacheMutex);
            module.slotCache.clear();
            module.slotIdentifiers.clear();
        }
        logError("No valid token found");
    }
    if (slotList == nullptr) {
        *count = static_cast<CK_ULONG>(devices.size());
        return CKR_OK;
    }
    if (devices.size() > *count) {
        *count = static_cast<CK_ULONG>(devices.size());
        return CKR_BUFFER_TOO_SMALL;
    }
    *count = static_cast<CK_ULONG>(devices.size());

    // Slot IDs are 32-bit: positions past the last representable ID get none.
    const std::size_t usablePositions = std::numeric_limits<SlotId>::max() - firstSlotId + std::size_t{1};

    // The device calls run without the cache lock; the new cache replaces the
    // old one in one step.
    std::map<std::string, TokenInfo> cache;
    std::map<SlotId, std::string> identifiers;
    for (std::size_t position = 0; position < devices.size() && position < usablePositions; ++position) {
        const std::string& identifier = devices[position];
        const SlotId slotId = static_cast<SlotId>(firstSlotId + position);
        // Every position gets its slot ID, so the caller's buffer holds no
        // stale entries; a device without a serial number has no token, and
        // its slot ID names no slot.
        slotList[position] = slotId;
        TokenInfo token = zelmor_getTokenInfo(identifier.c_str(), instance);
        if (token.serialNumber.empty()) continue;
        // A device listed twice keeps the token information of its first
        // listing; both slot IDs reach it.
        cache.emplace(identifier, std::move(token));
        identifiers.emplace(slotId, identifier);
    }

    std::lock_guard<std::mutex> guard(module.slotCacheMutex);
    module.slotCache.swap(cache);
    module.slotIdentifiers.swap(identifiers);
    return CKR_OK;
}

std::optional<TokenInfo> findSlot(CK_SLOT_ID slotID) {
    // On platforms with a 64-bit CK_ULONG, values above 32 bits name no slot.
    if (slotID < firstSlotId || slotID > std::numeric_limits<SlotId>::max()) return std::nullopt;
    ModuleState& module = moduleState();
    std::lock_guard<std::mutex> guard(module.slotCacheMutex);
    auto identifier = module.slotIdentifiers.find(static_cast<SlotId>(slotID));
    if (identifier == module.slotIdentifiers.end()) return std::nullopt;
    auto entry = module.slotCache.find(identifier->second);
    if (entry == module.slotCache.end()) return std::nullopt;
    return entry->second;
}

}  // namespace zelmor
