// The behaviour of the MSVC-ABI fakes of the device library, built with
// clang-cl against the MSVC standard library: one device with one RSA key
// pair. It returns strings and vectors made by MSVC's standard library, so the
// module's reading (and freeing) of them runs under MSVC's layout. The fakes
// export these operations under different spellings (FakeDeviceLibrary.cpp,
// MakerSpellingFake.cpp); fakeStillIntact tells the driver whether the module
// left the library's own records and the process heap alone.
#pragma once

#include <windows.h>

#include <cstring>

#include "ZelmorDSCLibrary.h"

// The sizes the maker's library exchanges, under MSVC's layout.
static_assert(sizeof(TokenInfo) == 336 && sizeof(CertificateDetails) == 296 && sizeof(ImportPFXDetails) == 304,
              "records with standard-library members");
static_assert(sizeof(ZelmorKeyPair) == 1324 && sizeof(ZelmorCertificate) == 3380, "fixed records");

namespace fake {
// Devices are named by their serial number. It and the texts below are longer
// than 15 characters, so MSVC's std::string keeps them on the heap.
inline const char* const deviceName = "MSVC-ABI-FAKE-01";
inline const char* const password = "12345678";
inline const char* const plaintext = "plaintext of the MSVC-ABI fake";
constexpr int32_t failure = -1;
constexpr uint32_t signatureLength = 256;
inline int instanceObject;
inline int releases;
inline const std::vector<ZelmorCertificate> noCertificates;

// KeyPair is ZelmorKeyPair or a record of the same layout under another tag.
template <typename KeyPair>
const std::vector<KeyPair>& keyPairs() {
    static const std::vector<KeyPair> list = [] {
        KeyPair keyPair{};
        keyPair.number = 1;
        for (uint8_t i = 0; i < zelmorIdentifierSize; ++i) keyPair.identifier[i] = static_cast<uint8_t>(i + 1);
        std::memset(keyPair.publicValue, 0xC5, signatureLength);
        keyPair.publicValueLength = signatureLength;
        keyPair.id[0] = 0x42;
        keyPair.idLength = 1;
        std::strcpy(keyPair.label, "key pair of the MSVC-ABI fake");
        keyPair.usageFlags = keyUsageSign | keyUsageDecrypt;
        keyPair.keyKind = keyKindRsa2048;
        return std::vector<KeyPair>{keyPair};
    }();
    return list;
}

inline bool isDevice(const char* name) { return name != nullptr && std::strcmp(name, deviceName) == 0; }
inline bool isUser(const char* name, const char* pin) {
    return isDevice(name) && pin != nullptr && std::strcmp(pin, password) == 0;
}
inline bool isKeyPair(const uint8_t* identifier) {
    return identifier != nullptr &&
           std::memcmp(identifier, keyPairs<ZelmorKeyPair>()[0].identifier, zelmorIdentifierSize) == 0;
}

inline bool stillIntact() {
    const std::vector<ZelmorKeyPair>& list = keyPairs<ZelmorKeyPair>();
    return list.size() == 1 && list[0].number == 1 && std::strcmp(list[0].label, "key pair of the MSVC-ABI fake") == 0 &&
           noCertificates.empty() && releases == 1 && HeapValidate(GetProcessHeap(), 0, nullptr) != FALSE;
}

inline void createInstance(ZelmorInstance* instance) { *instance = &instanceObject; }
inline void releaseInstance(ZelmorInstance instance) { releases += instance == &instanceObject ? 1 : 100; }
inline std::vector<std::string> connectedDevices() { return {deviceName}; }

inline TokenInfo tokenInfo(const char* name) {
    TokenInfo token{};
    if (!isDevice(name)) return token;
    token.serialNumber = deviceName;
    token.label = "Token of the MSVC-ABI fake";
    token.model = "MSVC-ABI fake device";
    token.firmwareVersion = "1.0";
    token.remainingPinAttempts = 10;
    return token;
}

inline int32_t validatePassword(const char* name, const char* pin, int32_t* retryCount) {
    if (retryCount != nullptr) *retryCount = 10;
    return isUser(name, pin) ? ZelmorResult::ok : failure;
}

// The signature is the input's first byte repeated, so the driver can tell it came from here.
inline int32_t sign(const char* name, const uint8_t* keyPairIdentifier, const char* pin, const uint8_t* data,
                    uint32_t dataLength, uint8_t* signature, uint32_t* length) {
    if (!isUser(name, pin) || dataLength == 0 || *length < signatureLength || !isKeyPair(keyPairIdentifier)) {
        return failure;
    }
    std::memset(signature, data[0], signatureLength);
    *length = signatureLength;
    return ZelmorResult::ok;
}

inline int32_t verify(uint32_t keyKind, const uint8_t* data, uint32_t dataLength, const uint8_t* publicValue,
                      uint32_t publicValueLength, const uint8_t* signature, uint32_t length) {
    if (keyKind != keyKindRsa2048 || dataLength == 0 || length != signatureLength ||
        publicValueLength != signatureLength || publicValue[0] != 0xC5) {
        return failure;
    }
    for (uint32_t i = 0; i < length; ++i) {
        if (signature[i] != data[0]) return failure;
    }
    return ZelmorResult::ok;
}

// The plaintext is a fixed text, on the process heap, where the module frees it.
inline int32_t decrypt(const char* name, const uint8_t* keyPairIdentifier, const char* pin, uint32_t dataLength,
                       uint8_t** output, uint32_t* outputLength) {
    if (!isUser(name, pin) || !isKeyPair(keyPairIdentifier) || dataLength != signatureLength) return failure;
    const std::size_t length = std::strlen(plaintext);
    *output = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, length));
    if (*output == nullptr) return failure;
    std::memcpy(*output, plaintext, length);
    *outputLength = static_cast<uint32_t>(length);
    return ZelmorResult::ok;
}
}  // namespace fake
