// The fake's state and its control interface.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "FakeDeviceLibrary.h"
#include "FakeInternal.h"

std::mutex& fakeMutex() {
    static std::mutex& lock = *new std::mutex;
    return lock;
}

FakeState& fakeState() {
    static FakeState& state = *new FakeState;
    return state;
}

FakeLibrary& fakeLibrary() {
    static FakeLibrary library;
    return library;
}

void FakeLibrary::reset() {
    std::lock_guard<std::mutex> guard(fakeMutex());
    fakeState() = FakeState();
}

void FakeLibrary::edit(const std::function<void(FakeState&)>& edit) {
    std::lock_guard<std::mutex> guard(fakeMutex());
    edit(fakeState());
}

void FakeLibrary::addDevice(const std::string& name, const std::string& pin) {
    edit([&](FakeState& state) {
        FakeDevice device;
        device.tokenInfo.serialNumber = name;
        device.tokenInfo.label = "Fake token " + name;
        device.tokenInfo.model = "Fake model";
        device.tokenInfo.firmwareVersion = "1.0";
        device.tokenInfo.remainingPinAttempts = 10;
        device.pin = pin;
        state.devices[name] = device;
        state.connected.push_back(name);
    });
}

void FakeLibrary::setConnected(const std::vector<std::string>& names) {
    edit([&](FakeState& state) { state.connected = names; });
}

void FakeLibrary::setResult(const std::string& operation, int32_t result) {
    edit([&](FakeState& state) { state.forcedResults[operation] = result; });
}

void FakeLibrary::setOutput(const std::string& operation, const ZelmorBytes& bytes) {
    edit([&](FakeState& state) { state.outputs[operation] = bytes; });
}

void FakeLibrary::addKeyPair(const std::string& device, const ZelmorKeyPair& keyPair) {
    edit([&](FakeState& state) { state.devices[device].keyPairs.push_back(keyPair); });
}

void FakeLibrary::addCertificate(const std::string& device, const ZelmorCertificate& certificate) {
    edit([&](FakeState& state) { state.devices[device].certificates.push_back(certificate); });
}

std::vector<FakeCall> FakeLibrary::calls(const std::string& operation) const {
    std::lock_guard<std::mutex> guard(fakeMutex());
    std::vector<FakeCall> selected;
    for (const FakeCall& call : fakeState().calls) {
        if (operation.empty() || call.operation == operation) selected.push_back(call);
    }
    return selected;
}

std::size_t FakeLibrary::callCount(const std::string& operation) const {
    std::lock_guard<std::mutex> guard(fakeMutex());
    const auto& calls = fakeState().calls;
    return static_cast<std::size_t>(
        std::count_if(calls.begin(), calls.end(), [&](const FakeCall& call) { return call.operation == operation; }));
}

void FakeLibrary::clearCalls() {
    std::lock_guard<std::mutex> guard(fakeMutex());
    fakeState().calls.clear();
}

int FakeLibrary::liveHashContexts() const {
    std::lock_guard<std::mutex> guard(fakeMutex());
    return fakeState().liveHashContexts;
}

ZelmorKeyPair makeFakeKeyPair(uint32_t number, uint32_t keyKind, const std::string& label, const ZelmorBytes& id) {
    ZelmorKeyPair keyPair{};
    keyPair.number = number;
    for (std::size_t i = 0; i < zelmorIdentifierSize; ++i) keyPair.identifier[i] = static_cast<uint8_t>(0xA0 + number + i);
    std::size_t publicLength = fakePublicValueLength(keyKind);
    keyPair.publicValue[0] = keyKind >= 5 && keyKind <= 7 ? 0x04 : 0xC1;
    for (std::size_t i = 1; i < publicLength; ++i) keyPair.publicValue[i] = static_cast<uint8_t>(i * 7 + number);
    keyPair.publicValueLength = static_cast<int32_t>(publicLength);
    std::size_t idLength = std::min(id.size(), zelmorIdSize);
    if (idLength > 0) std::memcpy(keyPair.id, id.data(), idLength);
    keyPair.idLength = static_cast<int32_t>(idLength);
    std::strncpy(keyPair.label, label.c_str(), zelmorLabelSize);
    keyPair.usageFlags = keyUsageSign | keyUsageDecrypt;
    keyPair.keyKind = keyKind;
    keyPair.keyFlag = 1;
    return keyPair;
}

ZelmorCertificate makeFakeCertificate(uint32_t number, const ZelmorBytes& der, const std::string& label,
                                      const ZelmorBytes& id) {
    ZelmorCertificate certificate{};
    certificate.number = number;
    for (std::size_t i = 0; i < zelmorIdentifierSize; ++i) certificate.identifier[i] = static_cast<uint8_t>(0xC0 + number + i);
    std::size_t valueLength = std::min(der.size(), zelmorCertificateValueSize);
    if (valueLength > 0) std::memcpy(certificate.value, der.data(), valueLength);
    certificate.valueLength = static_cast<int32_t>(valueLength);
    std::size_t idLength = std::min(id.size(), zelmorIdSize);
    if (idLength > 0) std::memcpy(certificate.id, id.data(), idLength);
    certificate.idLength = static_cast<int32_t>(idLength);
    std::memcpy(certificate.label, label.data(), std::min(label.size(), zelmorLabelSize));
    return certificate;
}
