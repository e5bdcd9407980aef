#include "DeviceRegistry.h"

#include <set>

namespace zelmor::sim {

DeviceRegistry::DeviceRegistry(std::string storeRoot) : store_(std::move(storeRoot)), changes_(store_.root()) {}

std::vector<std::string> DeviceRegistry::connectedSerials() {
    const std::vector<std::string> serials = store_.deviceSerials();
    {
        // Devices whose folder is gone are forgotten.
        const std::set<std::string> present(serials.begin(), serials.end());
        std::lock_guard<std::mutex> guard(mutex_);
        for (auto it = handles_.begin(); it != handles_.end();)
            it = present.count(it->first) != 0 ? std::next(it) : handles_.erase(it);
    }
    std::vector<std::string> connected;
    for (const auto& serial : serials) {
        const auto snapshot = handleFor(serial)->current();
        if (snapshot && snapshot->metadata.plugged) connected.push_back(serial);
    }
    return connected;
}

PluggedDevice DeviceRegistry::plugged(const char* serial) {
    if (serial == nullptr || !isValidSerial(serial)) return {};
    PluggedDevice device;
    device.handle = handleFor(serial);
    device.snapshot = device.handle->current();
    if (!device.snapshot || !device.snapshot->metadata.plugged) return {};
    return device;
}

std::shared_ptr<DeviceHandle> DeviceRegistry::handleFor(const std::string& serial) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto& handle = handles_[serial];
    if (!handle) handle = std::make_shared<DeviceHandle>(store_, changes_, serial);
    return handle;
}

}  // namespace zelmor::sim
