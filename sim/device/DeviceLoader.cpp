#include "DeviceLoader.h"

#include "../crypto/Certificates.h"
#include "RecordConversion.h"
#include "ZelmorDSCLibrary.h"

namespace zelmor::sim {

namespace {

std::shared_ptr<const PrivateKey> loadKey(const DeviceStore& store, const std::string& serial,
                                          const KeyPairEntry& entry, const DeviceSnapshot* previous) {
    if (previous != nullptr) {
        const int index = previous->findKeyPair(entry.identifier.data());
        if (index >= 0 && previous->keys[index]->kind() == entry.kind) return previous->keys[index];
    }
    const auto der = store.readKeyFile(serial, entry.identifier);
    return der ? PrivateKey::fromPkcs8(*der, entry.kind) : nullptr;
}

std::shared_ptr<const Bytes> loadCertificate(const DeviceStore& store, const std::string& serial,
                                             const CertificateEntry& entry, const DeviceSnapshot* previous) {
    if (previous != nullptr) {
        const int index = previous->findCertificate(entry.identifier.data());
        if (index >= 0) return previous->certificateDer[index];
    }
    auto der = store.readCertificateFile(serial, entry.identifier);
    if (!der || der->size() > zelmorCertificateValueSize || !parseCertificate(der->data(), der->size()))
        return nullptr;
    return std::make_shared<const Bytes>(std::move(*der));
}

}  // namespace

std::shared_ptr<const DeviceSnapshot> loadDevice(const DeviceStore& store, const std::string& serial,
                                                 const DeviceSnapshot* previous) {
    auto metadata = store.readMetadata(serial);
    if (!metadata) return nullptr;
    auto snapshot = std::make_shared<DeviceSnapshot>();
    for (const auto& entry : metadata->keyPairs) {
        auto key = loadKey(store, serial, entry, previous);
        if (!key) return nullptr;
        snapshot->keys.push_back(std::move(key));
    }
    for (const auto& entry : metadata->certificates) {
        auto der = loadCertificate(store, serial, entry, previous);
        if (!der) return nullptr;
        snapshot->certificateDer.push_back(std::move(der));
    }
    snapshot->metadata = std::move(*metadata);
    for (std::size_t i = 0; i < snapshot->keys.size(); ++i)
        snapshot->keyPairRecords.push_back(toKeyPairRecord(snapshot->metadata.keyPairs[i], snapshot->keys[i]->publicValue()));
    for (std::size_t i = 0; i < snapshot->certificateDer.size(); ++i)
        snapshot->certificateRecords.push_back(
            toCertificateRecord(snapshot->metadata.certificates[i], *snapshot->certificateDer[i]));
    return snapshot;
}

}  // namespace zelmor::sim
