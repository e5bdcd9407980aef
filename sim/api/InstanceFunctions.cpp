// Instance, device list, token information and device refresh.
#include "../store/DeviceStore.h"
#include "ApiGuard.h"
#include "SimInstance.h"

using namespace zelmor::sim;

void zelmor_createInstance(ZelmorInstance* instance) {
    if (instance == nullptr) return;
    *instance = guarded<ZelmorInstance>(nullptr, [] {
        auto* created = new SimInstance(DeviceStore::rootFromEnvironment());
        created->registry().connectedSerials();  // reads the store now, as a device scan would
        return static_cast<ZelmorInstance>(created);
    });
}

void zelmor_releaseInstance(ZelmorInstance instance) { delete SimInstance::from(instance); }

std::vector<std::string> zelmor_getConnectedDeviceList(bool /*refresh: the store is always checked*/,
                                                       ZelmorInstance instance) {
    return guarded<std::vector<std::string>>({}, [&] {
        SimInstance* sim = SimInstance::from(instance);
        return sim != nullptr ? sim->registry().connectedSerials() : std::vector<std::string>{};
    });
}

TokenInfo zelmor_getTokenInfo(const char* deviceName, ZelmorInstance instance) {
    return guarded<TokenInfo>(TokenInfo{}, [&] {
        TokenInfo info{};
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return info;
        const DeviceMetadata& metadata = device.snapshot->metadata;
        info.serialNumber = metadata.serial;
        info.label = metadata.label;
        info.model = metadata.model;
        info.firmwareVersion = metadata.firmware;
        info.remainingPinAttempts = static_cast<int32_t>(metadata.remainingRetries);
        return info;
    });
}

// The device keeps no state that needs preparing: this only confirms the
// device is there, its lists being read afresh on every request.
int32_t zelmor_initDevice(const char* deviceName, bool /*full*/, ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        return pluggedDevice(instance, deviceName) ? result::ok : result::deviceNotConnected;
    });
}
