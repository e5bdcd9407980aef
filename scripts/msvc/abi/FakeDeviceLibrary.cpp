// A minimal device library built with clang-cl against the MSVC standard
// library: one device with one RSA key pair. It returns strings and vectors
// made by MSVC's standard library, so the module's reading (and freeing) of
// them runs under MSVC's layout. fakeStillIntact tells the driver whether the
// module left the library's own records and the process heap alone.
#include <windows.h>

#include <cstring>

#include "ZelmorDSCLibrary.h"

// The sizes the maker's library exchanges, under MSVC's layout.
static_assert(sizeof(TokenInfo) == 336 && sizeof(CertificateDetails) == 296 && sizeof(ImportPFXDetails) == 304,
              "records with standard-library members");
static_assert(sizeof(ZelmorKeyPair) == 1324 && sizeof(ZelmorCertificate) == 3380, "fixed records");

namespace {
// Devices are named by their serial number. It and the texts below are longer
// than 15 characters, so MSVC's std::string keeps them on the heap.
const char* const deviceName = "MSVC-ABI-FAKE-01";
const char* const password = "12345678";
constexpr int32_t failure = -1;
constexpr uint32_t signatureLength = 256;
int instanceObject;
int releases;
const std::vector<ZelmorCertificate> noCertificates;

const std::vector<ZelmorKeyPair>& keyPairs() {
    static const std::vector<ZelmorKeyPair> list = [] {
        ZelmorKeyPair keyPair{};
        keyPair.number = 1;
        for (uint8_t i = 0; i < zelmorIdentifierSize; ++i) keyPair.identifier[i] = static_cast<uint8_t>(i + 1);
        std::memset(keyPair.publicValue, 0xC5, signatureLength);
        keyPair.publicValueLength = signatureLength;
        keyPair.id[0] = 0x42;
        keyPair.idLength = 1;
        std::strcpy(keyPair.label, "key pair of the MSVC-ABI fake");
        keyPair.usageFlags = keyUsageSign | keyUsageDecrypt;
        keyPair.keyKind = keyKindRsa2048;
        return std::vector<ZelmorKeyPair>{keyPair};
    }();
    return list;
}

bool isDevice(const char* name) { return name != nullptr && std::strcmp(name, deviceName) == 0; }
}  // namespace

extern "C" __declspec(dllexport) bool fakeStillIntact() {
    const std::vector<ZelmorKeyPair>& list = keyPairs();
    return list.size() == 1 && list[0].number == 1 && std::strcmp(list[0].label, "key pair of the MSVC-ABI fake") == 0 &&
           noCertificates.empty() && releases == 1 && HeapValidate(GetProcessHeap(), 0, nullptr) != FALSE;
}

void zelmor_createInstance(ZelmorInstance* instance) { *instance = &instanceObject; }
void zelmor_releaseInstance(ZelmorInstance instance) { releases += instance == &instanceObject ? 1 : 100; }
std::vector<std::string> zelmor_getConnectedDeviceList(bool, ZelmorInstance) { return {deviceName}; }

TokenInfo zelmor_getTokenInfo(const char* name, ZelmorInstance) {
    TokenInfo token{};
    if (!isDevice(name)) return token;
    token.serialNumber = deviceName;
    token.label = "Token of the MSVC-ABI fake";
    token.model = "MSVC-ABI fake device";
    token.firmwareVersion = "1.0";
    token.remainingPinAttempts = 10;
    return token;
}

int32_t zelmor_initDevice(const char*, bool, ZelmorInstance) { return failure; }

int32_t zelmor_validatePassword(const char* name, const char* pin, int32_t, int32_t* retryCount, ZelmorInstance) {
    if (retryCount != nullptr) *retryCount = 10;
    return isDevice(name) && std::strcmp(pin, password) == 0 ? ZelmorResult::ok : failure;
}

bool zelmor_changeUserPassword(const char*, const char*, const char*, int32_t*, bool, bool, ZelmorInstance) {
    return false;
}

const std::vector<ZelmorKeyPair>& zelmor_getKeyPairList(const char*, ZelmorInstance) { return keyPairs(); }
const std::vector<ZelmorCertificate>& zelmor_getCertificateList(const char*, ZelmorInstance) {
    return noCertificates;
}
ZelmorBytes zelmor_getCertificateSubject(const uint8_t*, int32_t, ZelmorInstance) { return {}; }
ZelmorBytes zelmor_getCertificateIssuer(const uint8_t*, int32_t, ZelmorInstance) { return {}; }
ZelmorBytes zelmor_getCertificateSerialDER(const uint8_t*, int32_t, ZelmorInstance) { return {}; }
int32_t zelmor_getCertificateDetails(const uint8_t*, int32_t, CertificateDetails*, ZelmorInstance) { return failure; }
ZelmorFileList zelmor_getFilesWithExtensionsAndConvertDER(const char*, const std::vector<std::string>&,
                                                          ZelmorInstance) {
    return {};
}
int32_t zelmor_importCertificate(const char*, const char*, ZelmorCertificate*, ZelmorInstance) { return failure; }
int32_t zelmor_importPfx(const char*, const char*, ImportPFXDetails*, ZelmorInstance) { return failure; }
int32_t zelmor_generateKeyPair(const char*, const char*, ZelmorKeyPair*, ZelmorInstance) { return failure; }
int32_t zelmor_updateKeyPairDetails(const char*, const uint8_t*, const char*, const char*, const uint8_t*, int32_t,
                                    ZelmorInstance) {
    return failure;
}
int32_t zelmor_deleteKeyPair(const char*, const uint8_t*, const char*, bool, ZelmorInstance) { return failure; }
int32_t zelmor_deleteCertificate(const char*, const uint8_t*, const char*, ZelmorInstance) { return failure; }
int32_t zelmor_initHash(const char*, int32_t, ZelmorHashContext*, ZelmorInstance) { return failure; }
int32_t zelmor_updateHash(ZelmorHashContext, const uint8_t*, uint32_t, ZelmorInstance) { return failure; }
int32_t zelmor_finalHash(ZelmorHashContext, uint8_t*, uint32_t*, ZelmorInstance) { return failure; }

// The signature is the input's first byte repeated, so the driver can tell it came from here.
int32_t zelmor_signHash(const char* name, const uint8_t* keyPairIdentifier, const char* pin, const uint8_t* data,
                        uint32_t dataLength, uint8_t* signature, uint32_t* length, bool, ZelmorInstance) {
    if (!isDevice(name) || std::strcmp(pin, password) != 0 || dataLength == 0 || *length < signatureLength ||
        std::memcmp(keyPairIdentifier, keyPairs()[0].identifier, zelmorIdentifierSize) != 0) {
        return failure;
    }
    std::memset(signature, data[0], signatureLength);
    *length = signatureLength;
    return ZelmorResult::ok;
}

int32_t zelmor_verifySignatureHash(uint32_t, const char*, const uint8_t*, uint32_t, const uint8_t*, uint32_t,
                                   const uint8_t*, uint32_t, ZelmorInstance) {
    return failure;
}
int32_t zelmor_encrypt(int32_t, int32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t*, const uint8_t*, uint32_t,
                       ZelmorInstance) {
    return failure;
}
int32_t zelmor_decrypt(const char*, const uint8_t*, const char*, const uint8_t*, uint32_t, uint8_t**, uint32_t*, bool,
                       ZelmorInstance) {
    return failure;
}
int32_t zelmor_generateRamdomNumber(const char*, uint32_t, uint8_t*, bool, ZelmorInstance) { return failure; }
