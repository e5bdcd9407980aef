// What a ZelmorInstance handle points at.
#pragma once

#include "../device/DeviceRegistry.h"
#include "../device/ResultCodes.h"
#include "ZelmorDSCLibrary.h"

#include <cstdint>
#include <string>

namespace zelmor::sim {

class SimInstance {
public:
    explicit SimInstance(std::string storeRoot) : registry_(std::move(storeRoot)) {}
    ~SimInstance() { marker_ = 0; }

    DeviceRegistry& registry() { return registry_; }
    const DeviceStore& store() const { return registry_.store(); }

    // The instance behind a handle; null for a null handle or one that is not ours.
    static SimInstance* from(ZelmorInstance handle) {
        auto* instance = static_cast<SimInstance*>(handle);
        return instance != nullptr && instance->marker_ == liveMarker ? instance : nullptr;
    }

private:
    static constexpr uint64_t liveMarker = 0x5a454c4d4f52494eULL;
    uint64_t marker_ = liveMarker;
    DeviceRegistry registry_;
};

// The device if the handle is valid and the device plugged; empty otherwise.
inline PluggedDevice pluggedDevice(ZelmorInstance handle, const char* deviceName) {
    SimInstance* instance = SimInstance::from(handle);
    return instance != nullptr ? instance->registry().plugged(deviceName) : PluggedDevice{};
}

}  // namespace zelmor::sim
