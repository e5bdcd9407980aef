#include "DeviceStore.h"

#include "ChangeCounter.h"
#include "MetadataText.h"
#include "StoreError.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <set>
#include <unistd.h>

namespace zelmor::sim {

namespace {

constexpr const char* metadataFileName = "device.txt";
constexpr std::size_t maxMetadataSize = 1 << 20;
constexpr std::size_t maxObjectFileSize = 64 * 1024;
constexpr const char* creatingPrefix = ".creating-";
constexpr const char* removedPrefix = ".removed-";

std::string keyFileName(const Identifier& identifier) { return "key-" + toHex(identifier) + ".p8"; }
std::string certificateFileName(const Identifier& identifier) { return "cert-" + toHex(identifier) + ".der"; }

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    return "/tmp";
}

}  // namespace

DeviceStore::DeviceStore(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string DeviceStore::rootFromEnvironment() {
    if (const char* configured = std::getenv("ZELMOR_SIM_HOME"); configured != nullptr && *configured != '\0')
        return configured;
    return homeFolder() + "/.local/share/zelmor-sim";
}

std::string DeviceStore::deviceFolder(const std::string& serial) const { return root_ + "/" + serial; }

std::vector<std::string> DeviceStore::deviceSerials() const {
    std::vector<std::string> serials;
    for (auto& name : listFolder(root_))
        if (isValidSerial(name) && isRealFolder(deviceFolder(name))) serials.push_back(std::move(name));
    std::sort(serials.begin(), serials.end());
    return serials;
}

bool DeviceStore::deviceExists(const std::string& serial) const {
    return isValidSerial(serial) && isRealFolder(deviceFolder(serial));
}

std::optional<FileStamp> DeviceStore::metadataStamp(const std::string& serial) const {
    if (!isValidSerial(serial)) return std::nullopt;
    return stampOf(deviceFolder(serial) + "/" + metadataFileName);
}

StoreLock DeviceStore::lockShared() const { return StoreLock(root_, StoreLock::Mode::shared); }

StoreLock DeviceStore::lockExclusive() const {
    makePrivateFolderTree(root_);
    return StoreLock(root_, StoreLock::Mode::exclusive);
}

std::optional<DeviceMetadata> DeviceStore::readMetadata(const std::string& serial) const {
    if (!isValidSerial(serial) || !isRealFolder(deviceFolder(serial))) return std::nullopt;
    const auto content = readWholeFile(deviceFolder(serial) + "/" + metadataFileName, maxMetadataSize);
    if (!content) return std::nullopt;
    auto metadata = parseMetadata(std::string_view(reinterpret_cast<const char*>(content->data()), content->size()));
    if (!metadata || metadata->serial != serial) return std::nullopt;
    return metadata;
}

std::optional<Bytes> DeviceStore::readKeyFile(const std::string& serial, const Identifier& identifier) const {
    return readWholeFile(deviceFolder(serial) + "/" + keyFileName(identifier), maxObjectFileSize);
}

std::optional<Bytes> DeviceStore::readCertificateFile(const std::string& serial, const Identifier& identifier) const {
    return readWholeFile(deviceFolder(serial) + "/" + certificateFileName(identifier), maxObjectFileSize);
}

void DeviceStore::writeKeyFile(const std::string& serial, const Identifier& identifier, const Bytes& pkcs8) const {
    writeFileAtomically(deviceFolder(serial), keyFileName(identifier), pkcs8.data(), pkcs8.size());
}

void DeviceStore::writeCertificateFile(const std::string& serial, const Identifier& identifier,
                                       const Bytes& der) const {
    writeFileAtomically(deviceFolder(serial), certificateFileName(identifier), der.data(), der.size());
}

void DeviceStore::writeMetadata(const DeviceMetadata& metadata) const {
    const std::string text = serialiseMetadata(metadata);
    writeFileAtomically(deviceFolder(metadata.serial), metadataFileName, reinterpret_cast<const uint8_t*>(text.data()),
                        text.size());
    ChangeCounter::raise(root_);
}

void DeviceStore::removeUnreferencedFiles(const DeviceMetadata& metadata) const {
    std::set<std::string> keep{metadataFileName};
    for (const auto& keyPair : metadata.keyPairs) keep.insert(keyFileName(keyPair.identifier));
    for (const auto& certificate : metadata.certificates) keep.insert(certificateFileName(certificate.identifier));
    const std::string folder = deviceFolder(metadata.serial);
    for (const auto& name : listFolder(folder)) {
        const bool ours = startsWith(name, "key-") || startsWith(name, "cert-") || startsWith(name, tempFilePrefix);
        if (ours && keep.count(name) == 0) ::unlink((folder + "/" + name).c_str());
    }
}

void DeviceStore::createDevice(const DeviceMetadata& metadata) const {
    removeLeftoverFolders();
    const std::string building = root_ + "/" + creatingPrefix + metadata.serial + "-" + std::to_string(::getpid());
    removeFolderTree(building);
    makePrivateFolder(building);
    const std::string text = serialiseMetadata(metadata);
    writeFileAtomically(building, metadataFileName, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (std::rename(building.c_str(), deviceFolder(metadata.serial).c_str()) != 0) {
        removeFolderTree(building);
        throw StoreError("cannot create device folder " + deviceFolder(metadata.serial));
    }
    ChangeCounter::raise(root_);
    syncFolder(root_);
}

void DeviceStore::removeDevice(const std::string& serial) const {
    const std::string doomed = root_ + "/" + removedPrefix + serial + "-" + std::to_string(::getpid());
    removeFolderTree(doomed);
    if (std::rename(deviceFolder(serial).c_str(), doomed.c_str()) != 0)
        throw StoreError("cannot remove device folder " + deviceFolder(serial));
    ChangeCounter::raise(root_);
    syncFolder(root_);
    removeFolderTree(doomed);
}

void DeviceStore::removeLeftoverFolders() const {
    for (const auto& name : listFolder(root_))
        if (startsWith(name, creatingPrefix) || startsWith(name, removedPrefix)) removeFolderTree(root_ + "/" + name);
}

}  // namespace zelmor::sim
