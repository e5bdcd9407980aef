#pragma once

#include "../store/DeviceStore.h"
#include "DeviceSnapshot.h"

#include <memory>

namespace zelmor::sim {

// Reads a device and parses its keys; the caller holds the store lock. Keys
// and certificates already parsed in `previous` are taken from there, as the
// file of an identifier never changes. Null for a missing or damaged device:
// unreadable metadata, or a listed key or certificate missing or unparsable.
std::shared_ptr<const DeviceSnapshot> loadDevice(const DeviceStore& store, const std::string& serial,
                                                 const DeviceSnapshot* previous);

}  // namespace zelmor::sim
