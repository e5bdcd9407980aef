// Layout of the store on disk:
//
//   <store>/.lock                       cross-process lock (StoreLock)
//   <store>/.changes                    change counter (ChangeCounter)
//   <store>/<serial>/device.txt         metadata (MetadataText.h)
//   <store>/<serial>/key-<id hex>.p8    private key, PKCS#8 DER
//   <store>/<serial>/cert-<id hex>.der  certificate, DER
//
// Key and certificate files are written before the metadata that names them
// and removed after it stops naming them, so a process killed at any point
// leaves every listed object in place. Files no metadata names are leftovers
// of such a kill and are cleared by the next change of the device.
#pragma once

#include "Bytes.h"
#include "DeviceMetadata.h"
#include "SecureFiles.h"
#include "StoreLock.h"

#include <optional>
#include <string>
#include <vector>

namespace zelmor::sim {

class DeviceStore {
public:
    explicit DeviceStore(std::string root);

    // $ZELMOR_SIM_HOME, else $HOME/.local/share/zelmor-sim.
    static std::string rootFromEnvironment();

    const std::string& root() const { return root_; }

    // Serials of the device folders, in ascending byte order.
    std::vector<std::string> deviceSerials() const;
    bool deviceExists(const std::string& serial) const;
    std::optional<FileStamp> metadataStamp(const std::string& serial) const;

    StoreLock lockShared() const;
    // Creates the store folder when needed.
    StoreLock lockExclusive() const;

    // nullopt for a missing or damaged file, or one that names another serial.
    std::optional<DeviceMetadata> readMetadata(const std::string& serial) const;
    std::optional<Bytes> readKeyFile(const std::string& serial, const Identifier& identifier) const;
    std::optional<Bytes> readCertificateFile(const std::string& serial, const Identifier& identifier) const;

    // Writers: the caller holds the exclusive lock. They throw StoreError.
    // Each completed device change raises the store's change counter.
    void writeKeyFile(const std::string& serial, const Identifier& identifier, const Bytes& pkcs8) const;
    void writeCertificateFile(const std::string& serial, const Identifier& identifier, const Bytes& der) const;
    void writeMetadata(const DeviceMetadata& metadata) const;
    // Best effort: deletes key, certificate and temporary files the metadata does not name.
    void removeUnreferencedFiles(const DeviceMetadata& metadata) const;
    // The device folder appears complete or not at all. The serial must be new.
    void createDevice(const DeviceMetadata& metadata) const;
    // The device disappears at once; its files are deleted after.
    void removeDevice(const std::string& serial) const;

private:
    std::string deviceFolder(const std::string& serial) const;
    void removeLeftoverFolders() const;

    std::string root_;
};

}  // namespace zelmor::sim
