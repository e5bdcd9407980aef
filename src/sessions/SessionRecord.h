// One open PKCS#11 session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"

// The one operation a session may have active. DigestEncrypt and
// DecryptDigest exist as codes only: no entry point starts them.
enum class ActiveOperation : uint32_t {
    None = 0,
    Find = 1,
    Encrypt = 2,
    Decrypt = 3,
    Digest = 4,
    Sign = 5,
    Verify = 7,
    DigestEncrypt = 9,
    DecryptDigest = 10,
};

using SessionHandle = uint32_t;
using SlotId = uint32_t;
constexpr SessionHandle firstSessionHandle = 0x60000001;

struct SessionRecord {
    uint32_t state = CKS_RO_PUBLIC_SESSION;
    SlotId slotId = 0;
    TokenInfo tokenInfo{};
    ActiveOperation activeOperation = ActiveOperation::None;
    std::vector<ZelmorCertificate> foundCertificates;
    std::vector<ZelmorKeyPair> foundKeyPairs;
    bool includePublicKeys = false;
    bool includePrivateKeys = false;
    uint32_t findPosition = 0;
    ZelmorKeyPair keyPair{};
    std::vector<uint8_t> outputCache;
    std::vector<uint8_t> dataBuffer;
    ZelmorHashContext hashContext = nullptr;
    uint32_t mechanism = 0;

    const std::string& deviceName() const { return tokenInfo.serialNumber; }
};

inline bool isUserState(uint32_t state) {
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS;
}
inline bool isReadOnlyState(uint32_t state) {
    return state == CKS_RO_PUBLIC_SESSION || state == CKS_RO_USER_FUNCTIONS;
}
