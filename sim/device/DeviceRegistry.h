// The devices of one library instance: a handle per device folder of the
// store, created on first use. Safe for concurrent use by any number of threads.
#pragma once

#include "../store/DeviceStore.h"
#include "DeviceHandle.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zelmor::sim {

struct PluggedDevice {
    std::shared_ptr<DeviceHandle> handle;
    std::shared_ptr<const DeviceSnapshot> snapshot;
    explicit operator bool() const { return snapshot != nullptr; }
};

class DeviceRegistry {
public:
    explicit DeviceRegistry(std::string storeRoot);

    const DeviceStore& store() const { return store_; }

    // Serials of plugged, readable devices, in ascending byte order.
    std::vector<std::string> connectedSerials();

    // The device if it is known, readable and plugged; empty otherwise.
    PluggedDevice plugged(const char* serial);

private:
    std::shared_ptr<DeviceHandle> handleFor(const std::string& serial);

    DeviceStore store_;
    ChangeCounter changes_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<DeviceHandle>> handles_;
};

}  // namespace zelmor::sim
