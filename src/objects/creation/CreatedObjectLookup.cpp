#include "objects/creation/CreatedObjectLookup.h"

#include <cstring>
#include <vector>

#include "ZelmorDSCLibrary.h"
#include "frame/ModuleState.h"
#include "objects/ObjectHandles.h"

namespace zelmor {

namespace {
// A record whose number no handle can carry is treated as not found, so that
// no handle naming another object is handed out.
bool keyPairNumberFits(uint32_t number) { return number < publicKeyHandleBase - privateKeyHandleBase; }
bool certificateNumberFits(uint32_t number) { return number <= 0xFFFFFFFFu - certificateHandleBase; }
}  // namespace

bool findKeyPairByIdentifier(const std::string& deviceName, const uint8_t* identifier, std::size_t length,
                             uint32_t* number) {
    if (identifier == nullptr || length < zelmorIdentifierSize) return false;
    // Copied at once: the list belongs to the device library.
    const std::vector<ZelmorKeyPair> list = zelmor_getKeyPairList(deviceName.c_str(), moduleState().instance());
    for (const ZelmorKeyPair& record : list) {
        if (std::memcmp(record.identifier, identifier, zelmorIdentifierSize) != 0) continue;
        if (!keyPairNumberFits(record.number)) return false;
        *number = record.number;
        return true;
    }
    return false;
}

bool findCertificateByIdentifier(const std::string& deviceName, const uint8_t* identifier, uint32_t* number) {
    const std::vector<ZelmorCertificate> list =
        zelmor_getCertificateList(deviceName.c_str(), moduleState().instance());
    for (const ZelmorCertificate& record : list) {
        if (std::memcmp(record.identifier, identifier, zelmorIdentifierSize) != 0) continue;
        if (!certificateNumberFits(record.number)) return false;
        *number = record.number;
        return true;
    }
    return false;
}

bool generatedNumberFits(uint32_t number) { return keyPairNumberFits(number); }

}  // namespace zelmor
