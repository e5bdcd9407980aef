#include "objects/ObjectHandles.h"

#include <limits>
#include <vector>

#include "frame/ModuleState.h"

namespace zelmor {

DecodedHandle decodeObjectHandle(CK_OBJECT_HANDLE handle) {
    DecodedHandle decoded;
    if (handle > std::numeric_limits<uint32_t>::max()) return decoded;
    uint32_t value = static_cast<uint32_t>(handle);
    if (value < privateKeyHandleBase) return decoded;
    if (value < publicKeyHandleBase) {
        decoded.kind = ObjectKind::PrivateKey;
        decoded.number = value - privateKeyHandleBase;
    } else if (value < certificateHandleBase) {
        decoded.kind = ObjectKind::PublicKey;
        decoded.number = value - publicKeyHandleBase;
    } else {
        decoded.kind = ObjectKind::Certificate;
        decoded.number = value - certificateHandleBase;
    }
    return decoded;
}

std::vector<ZelmorKeyPair> fetchKeyPairList(const std::string& deviceName) {
    // Copied at once: the list belongs to the device library.
    return zelmor_getKeyPairList(deviceName.c_str(), moduleState().instance());
}

std::vector<ZelmorCertificate> fetchCertificateList(const std::string& deviceName) {
    return zelmor_getCertificateList(deviceName.c_str(), moduleState().instance());
}

bool findKeyPair(const std::string& deviceName, uint32_t number, ZelmorKeyPair* keyPair) {
    const std::vector<ZelmorKeyPair> list = fetchKeyPairList(deviceName);
    for (const ZelmorKeyPair& record : list) {
        if (record.number != number) continue;
        *keyPair = record;
        return true;
    }
    return false;
}

bool findCertificate(const std::string& deviceName, uint32_t number, ZelmorCertificate* certificate) {
    const std::vector<ZelmorCertificate> list = fetchCertificateList(deviceName);
    for (const ZelmorCertificate& record : list) {
        if (record.number != number) continue;
        *certificate = record;
        return true;
    }
    return false;
}

}  // namespace zelmor
