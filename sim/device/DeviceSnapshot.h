// One consistent state of a device as loaded from the store, with its keys
// parsed. Immutable; shared by all threads that use the device until a newer
// state replaces it.
#pragma once

#include "../crypto/PrivateKey.h"
#include "../store/DeviceMetadata.h"
#include "ZelmorDSCLibrary.h"

#include <memory>
#include <vector>

namespace zelmor::sim {

struct DeviceSnapshot {
    DeviceMetadata metadata;
    // Parallel to metadata.keyPairs and metadata.certificates.
    std::vector<std::shared_ptr<const PrivateKey>> keys;
    std::vector<std::shared_ptr<const Bytes>> certificateDer;
    // The lists as the library interface hands them out, built once per snapshot.
    std::vector<ZelmorKeyPair> keyPairRecords;
    std::vector<ZelmorCertificate> certificateRecords;

    // Index into the lists, or -1.
    int findKeyPair(const uint8_t* identifier) const;
    int findCertificate(const uint8_t* identifier) const;
};

}  // namespace zelmor::sim
