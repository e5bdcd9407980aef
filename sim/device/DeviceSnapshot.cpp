#include "DeviceSnapshot.h"

#include <cstring>

namespace zelmor::sim {

namespace {
template <typename Entry>
int findByIdentifier(const std::vector<Entry>& entries, const uint8_t* identifier) {
    if (identifier == nullptr) return -1;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (std::memcmp(entries[i].identifier.data(), identifier, entries[i].identifier.size()) == 0)
            return static_cast<int>(i);
    return -1;
}
}  // namespace

int DeviceSnapshot::findKeyPair(const uint8_t* identifier) const {
    return findByIdentifier(metadata.keyPairs, identifier);
}

int DeviceSnapshot::findCertificate(const uint8_t* identifier) const {
    return findByIdentifier(metadata.certificates, identifier);
}

}  // namespace zelmor::sim
