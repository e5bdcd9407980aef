#include "DeviceAdministration.h"

#include "../store/StoreError.h"
#include "DeviceChange.h"
#include "DeviceLoader.h"
#include "PasswordCheck.h"

namespace zelmor::sim {

namespace {

void requireValidSerial(const std::string& serial) {
    if (!isValidSerial(serial))
        throw AdministrationError("invalid serial '" + serial + "': use 1 to " +
                                  std::to_string(limits::maxSerialLength) +
                                  " characters of A-Z a-z 0-9 . _ -, not starting with a dot");
}

void requireValidPin(const std::string& pin) {
    if (!isAcceptablePinLength(pin.size()))
        throw AdministrationError("PIN must be " + std::to_string(limits::minPinLength) + " to " +
                                  std::to_string(limits::maxPinLength) + " characters long");
}

// Applies a change to a device in any plug state, turning failures into messages.
void changeDevice(const DeviceStore& store, const std::string& serial,
                  const std::function<void(DeviceMetadata&)>& change) {
    requireValidSerial(serial);
    const int32_t outcome = commitChange(store, serial, PlugRequirement::anyState,
                                         [&](DeviceMetadata& metadata, std::vector<PendingFile>&) -> ChangeOutcome {
                                             change(metadata);
                                             return {result::ok, true};
                                         });
    if (outcome == result::deviceNotConnected)
        throw AdministrationError(store.deviceExists(serial) ? "device " + serial + " is damaged"
                                                             : "unknown device " + serial);
    if (outcome != result::ok) throw AdministrationError("cannot write device " + serial + " in " + store.root());
}

}  // namespace

void createDevice(const DeviceStore& store, const NewDeviceSettings& settings) {
    requireValidSerial(settings.serial);
    requireValidPin(settings.pin);
    if (!isValidTokenText(settings.label))
        throw AdministrationError("label must be printable text of at most " +
                                  std::to_string(limits::maxTokenTextLength) + " bytes");
    if (!isValidTokenText(settings.model))
        throw AdministrationError("model must be printable text of at most " +
                                  std::to_string(limits::maxTokenTextLength) + " bytes");
    if (!isValidFirmware(settings.firmware))
        throw AdministrationError("invalid firmware '" + settings.firmware + "': use MAJOR.MINOR, each 0 to 255");
    if (settings.retries < 1 || settings.retries > limits::maxRetries)
        throw AdministrationError("retries must be 1 to " + std::to_string(limits::maxRetries));
    if (settings.capacity < 1 || settings.capacity > limits::maxCapacity)
        throw AdministrationError("capacity must be 1 to " + std::to_string(limits::maxCapacity));

    DeviceMetadata metadata;
    metadata.serial = settings.serial;
    metadata.label = settings.label;
    metadata.model = settings.model;
    metadata.firmware = settings.firmware;
    metadata.plugged = true;
    metadata.maxRetries = settings.retries;
    metadata.remainingRetries = settings.retries;
    metadata.pin = makePinRecord(settings.pin);
    metadata.keyPairCapacity = settings.capacity;
    metadata.certificateCapacity = settings.capacity;
    metadata.generation = 1;
    try {
        StoreLock lock = store.lockExclusive();
        if (store.deviceExists(settings.serial))
            throw AdministrationError("device " + settings.serial + " already exists");
        store.createDevice(metadata);
    } catch (const StoreError& error) {
        throw AdministrationError(error.what());
    }
}

void setPlugged(const DeviceStore& store, const std::string& serial, bool plugged) {
    changeDevice(store, serial, [plugged](DeviceMetadata& metadata) { metadata.plugged = plugged; });
}

void unlockDevice(const DeviceStore& store, const std::string& serial, const std::optional<std::string>& newPin) {
    if (newPin) requireValidPin(*newPin);
    const std::optional<PinRecord> record = newPin ? std::optional<PinRecord>(makePinRecord(*newPin)) : std::nullopt;
    changeDevice(store, serial, [&](DeviceMetadata& metadata) {
        metadata.remainingRetries = metadata.maxRetries;
        if (record) metadata.pin = *record;
    });
}

void removeDevice(const DeviceStore& store, const std::string& serial) {
    requireValidSerial(serial);
    try {
        StoreLock lock = store.lockExclusive();
        if (!store.deviceExists(serial)) throw AdministrationError("unknown device " + serial);
        store.removeDevice(serial);
    } catch (const StoreError& error) {
        throw AdministrationError(error.what());
    }
}

std::vector<DeviceListing> listDevices(const DeviceStore& store) {
    std::vector<DeviceListing> listings;
    StoreLock lock = store.lockShared();
    for (const auto& serial : store.deviceSerials()) listings.push_back({serial, loadDevice(store, serial, nullptr)});
    return listings;
}

std::shared_ptr<const DeviceSnapshot> readDevice(const DeviceStore& store, const std::string& serial) {
    requireValidSerial(serial);
    StoreLock lock = store.lockShared();
    if (!store.deviceExists(serial)) throw AdministrationError("unknown device " + serial);
    auto device = loadDevice(store, serial, nullptr);
    if (!device) throw AdministrationError("device " + serial + " is damaged");
    return device;
}

}  // namespace zelmor::sim
