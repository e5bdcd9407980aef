// Device management as the zelmor-sim tool offers it. Failures throw
// AdministrationError with a message fit for the user.
#pragma once

#include "../store/DeviceStore.h"
#include "DeviceSnapshot.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelmor::sim {

class AdministrationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct NewDeviceSettings {
    std::string serial;
    std::string pin;
    std::string label = "Zelmor Token";
    std::string model = "Zelmor DSC";
    std::string firmware = "1.0";
    uint32_t retries = 10;
    uint32_t capacity = 32;  // key pairs, and certificates
};

void createDevice(const DeviceStore& store, const NewDeviceSettings& settings);
void setPlugged(const DeviceStore& store, const std::string& serial, bool plugged);
// Restores the full retry count; with a new PIN, replaces the PIN as well.
void unlockDevice(const DeviceStore& store, const std::string& serial, const std::optional<std::string>& newPin);
void removeDevice(const DeviceStore& store, const std::string& serial);

struct DeviceListing {
    std::string serial;
    std::shared_ptr<const DeviceSnapshot> device;  // null for a damaged device
};

// Every device folder, plugged or not, in ascending serial order.
std::vector<DeviceListing> listDevices(const DeviceStore& store);
// The device's full state; throws for an unknown or damaged device.
std::shared_ptr<const DeviceSnapshot> readDevice(const DeviceStore& store, const std::string& serial);

}  // namespace zelmor::sim
