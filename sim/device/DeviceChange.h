// Read-modify-write of one device under the store's exclusive lock.
#pragma once

#include "../store/DeviceStore.h"
#include "ResultCodes.h"

#include <functional>
#include <string>
#include <vector>

namespace zelmor::sim {

struct PendingFile {
    enum class Kind { key, certificate };
    Kind kind;
    Identifier identifier;
    Bytes content;
};

struct ChangeOutcome {
    int32_t result = result::ok;
    bool write = false;  // store the changed metadata (and pending files), whatever the result
};

using MetadataChange = std::function<ChangeOutcome(DeviceMetadata&, std::vector<PendingFile>&)>;

enum class PlugRequirement { mustBePlugged, anyState };

// Reads the device's metadata afresh, lets `change` edit it, then writes the
// pending files and the metadata (generation raised by one) and clears files
// no longer named. Result 48 for a missing, damaged or (when required)
// unplugged device, storeFailure when writing fails (the device keeps its
// earlier content), otherwise the change's result.
int32_t commitChange(const DeviceStore& store, const std::string& serial, PlugRequirement plug,
                     const MetadataChange& change);

}  // namespace zelmor::sim
