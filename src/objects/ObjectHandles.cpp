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

namespace {

// The list stays the device library's until its next call, and no other call
// is made before the match is copied out, so only the record found is copied:
// a lookup runs on every signing and attribute read, and a full token's list
// is over 100 KB.
template <typename Record>
bool copyRecordNumbered(const std::vector<Record>& list, uint32_t number, Record* found) {
    for (const Record& record : list) {
        if (record.number != number) continue;
        *found = record;
        return true;
    }
    return false;
}

}  // namespace

bool findKeyPair(const std::string& deviceName, uint32_t number, ZelmorKeyPair* keyPair) {
    return copyRecordNumbered(zelmor_getKeyPairList(deviceName.c_str(), moduleState().instance()), number, keyPair);
}

bool findCertificate(const std::string& deviceName, uint32_t number, ZelmorCertificate* certificate) {
    return copyRecordNumbered(zelmor_getCertificateList(deviceName.c_str(), moduleState().instance()), number,
                              certificate);
}

}  // namespace zelmor
