// Interface of the maker's device library, ZelmorDSCLibrary.
//
// The library is a C++ library: text passes as zero-terminated strings or
// std::string, byte data as std::vector<uint8_t>, lists come back as vectors
// of records. Every operation takes the instance handle as its last argument.
// Three implementations exist: the maker's (Windows), the virtual device
// library in sim/ (Linux) and the test fake in tests/fake/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#  if defined(ZELMOR_DSC_BUILDING_LIBRARY)
#    define ZELMOR_DSC_API __declspec(dllexport)
#  else
#    define ZELMOR_DSC_API __declspec(dllimport)
#  endif
#else
#  define ZELMOR_DSC_API __attribute__((visibility("default")))
#endif

using ZelmorInstance = void*;
using ZelmorHashContext = void*;
using ZelmorBytes = std::vector<uint8_t>;

// Result codes the module interprets; every other non-zero value is a plain failure.
namespace ZelmorResult {
constexpr int32_t ok = 0;
constexpr int32_t deviceMemoryFull = 40;
constexpr int32_t deviceNotConnected = 48;
constexpr int32_t deviceMemoryFullAlt = 242;
}  // namespace ZelmorResult

// Key kind codes of ZelmorKeyPair::keyKind.
enum ZelmorKeyKind : uint32_t {
    keyKindRsa1024 = 1,
    keyKindRsa2048 = 2,
    keyKindRsa3072 = 3,
    keyKindRsa4096 = 4,
    keyKindEcP256 = 5,
    keyKindEcP384 = 6,
    keyKindEcP521 = 7,
};

// Hash algorithm identifiers of zelmor_initHash.
enum ZelmorHashAlgorithm : int32_t {
    hashSha1 = 2,
    hashSha256 = 3,
    hashSha384 = 4,
    hashSha512 = 5,
};

// First argument of zelmor_encrypt: RSA PKCS#1 encryption by modulus size.
enum EncryptionType : int32_t {
    encryptionRsa1024 = 7,
    encryptionRsa2048 = 8,
    encryptionRsa3072 = 9,
    encryptionRsa4096 = 10,
};

// Second argument of zelmor_encrypt.
enum PaddingMode : int32_t {
    paddingPkcs1 = 1,
};

constexpr std::size_t zelmorIdentifierSize = 16;
constexpr std::size_t zelmorPublicValueSize = 1024;
constexpr std::size_t zelmorIdSize = 128;
constexpr std::size_t zelmorLabelSize = 128;
constexpr std::size_t zelmorCertificateValueSize = 3072;
constexpr std::size_t zelmorOutputBufferSize = 1024;

#pragma pack(push, 1)
// One key pair on the device, exchanged as a fixed 1324-byte block.
struct ZelmorKeyPair {
    uint32_t number;
    uint8_t identifier[zelmorIdentifierSize];
    uint8_t publicValue[zelmorPublicValueSize];
    int32_t publicValueLength;
    uint8_t id[zelmorIdSize];
    int32_t idLength;
    char label[zelmorLabelSize + 1];  // zero-terminated
    uint8_t padding1[3];
    uint32_t usageFlags;  // bit 0 sign/verify, bit 1 decrypt/encrypt
    uint32_t keyKind;
    uint8_t keyFlag;
    uint8_t padding2[3];
};

// One certificate on the device, exchanged as a fixed 3380-byte block.
struct ZelmorCertificate {
    uint32_t number;
    uint8_t identifier[zelmorIdentifierSize];
    uint8_t value[zelmorCertificateValueSize];
    int32_t valueLength;
    uint8_t id[zelmorIdSize];
    int32_t idLength;
    char label[zelmorLabelSize];  // zero-padded; a 128-byte label has no terminator
    uint8_t libraryFields[24];
};
#pragma pack(pop)

constexpr uint32_t keyUsageSign = 1;
constexpr uint32_t keyUsageDecrypt = 2;

static_assert(sizeof(ZelmorKeyPair) == 1324, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, identifier) == 4, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, publicValue) == 20, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, publicValueLength) == 1044, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, id) == 1048, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, idLength) == 1176, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, label) == 1180, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, usageFlags) == 1312, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, keyKind) == 1316, "ZelmorKeyPair layout");
static_assert(offsetof(ZelmorKeyPair, keyFlag) == 1320, "ZelmorKeyPair layout");

static_assert(sizeof(ZelmorCertificate) == 3380, "ZelmorCertificate layout");
static_assert(offsetof(ZelmorCertificate, identifier) == 4, "ZelmorCertificate layout");
static_assert(offsetof(ZelmorCertificate, value) == 20, "ZelmorCertificate layout");
static_assert(offsetof(ZelmorCertificate, valueLength) == 3092, "ZelmorCertificate layout");
static_assert(offsetof(ZelmorCertificate, id) == 3096, "ZelmorCertificate layout");
static_assert(offsetof(ZelmorCertificate, idLength) == 3224, "ZelmorCertificate layout");
static_assert(offsetof(ZelmorCertificate, label) == 3228, "ZelmorCertificate layout");
static_assert(offsetof(ZelmorCertificate, libraryFields) == 3356, "ZelmorCertificate layout");

// The records below carry standard-library members; their layout follows the
// 64-bit standard library (a string takes 32 bytes, a vector 24), which both
// sides of the boundary must share.
static_assert(sizeof(void*) == 8, "64-bit targets only");
static_assert(sizeof(std::string) == 32, "64-bit standard-library string layout");
static_assert(sizeof(std::vector<uint8_t>) == 24, "64-bit standard-library vector layout");

// Token information of one device. Fields without a name here are the
// library's own; the module copies them and interprets nothing else.
struct TokenInfo {
    std::string serialNumber;
    std::string text2;
    std::string label;
    std::string text4;
    std::string model;
    std::string firmwareVersion;
    std::string text7;
    int32_t value1;
    int32_t value2;
    int32_t remainingPinAttempts;
    int32_t value4;
    int32_t value5;
    int32_t value6;
    int32_t value7;
    int32_t value8;
    int32_t value9;
    int32_t value10;
    std::string text8;
    std::string text9;
    int32_t value11;
};
static_assert(offsetof(TokenInfo, label) == 64, "TokenInfo layout");
static_assert(offsetof(TokenInfo, firmwareVersion) == 160, "TokenInfo layout");
static_assert(offsetof(TokenInfo, remainingPinAttempts) == 232, "TokenInfo layout");
static_assert(offsetof(TokenInfo, text8) == 264, "TokenInfo layout");
static_assert(offsetof(TokenInfo, value11) == 328, "TokenInfo layout");
static_assert(sizeof(TokenInfo) == 336, "TokenInfo layout");

// Parsed certificate, filled by zelmor_getCertificateDetails. The module reads
// only the issuer and subject distinguished names ("CN=...,O=..." text).
struct CertificateDetails {
    std::string text1;
    std::string text2;
    std::string issuer;
    std::string text4;
    std::string text5;
    int32_t value1;
    int32_t value2;
    int32_t value3;
    std::string text6;
    std::string subject;
    std::string text8;
    ZelmorBytes bytes1;
};
static_assert(offsetof(CertificateDetails, issuer) == 64, "CertificateDetails layout");
static_assert(offsetof(CertificateDetails, text6) == 176, "CertificateDetails layout");
static_assert(offsetof(CertificateDetails, subject) == 208, "CertificateDetails layout");
static_assert(offsetof(CertificateDetails, bytes1) == 272, "CertificateDetails layout");
static_assert(sizeof(CertificateDetails) == 296, "CertificateDetails layout");

// RSA private key handed to zelmor_importPfx.
struct ImportPFXDetails {
    ZelmorBytes modulus;
    ZelmorBytes publicExponent;
    ZelmorBytes privateExponent;
    ZelmorBytes prime1;
    ZelmorBytes prime2;
    ZelmorBytes exponent1;
    ZelmorBytes exponent2;
    ZelmorBytes coefficient;
    int32_t kind;
    std::string label;
    ZelmorBytes keyPairIdentifier;  // written by the library on success
    ZelmorBytes id;
    ZelmorBytes lastField;
};
static_assert(offsetof(ImportPFXDetails, kind) == 192, "ImportPFXDetails layout");
static_assert(offsetof(ImportPFXDetails, label) == 200, "ImportPFXDetails layout");
static_assert(offsetof(ImportPFXDetails, keyPairIdentifier) == 232, "ImportPFXDetails layout");
static_assert(sizeof(ImportPFXDetails) == 304, "ImportPFXDetails layout");

using ZelmorFileList = std::vector<std::pair<std::string, ZelmorBytes>>;

// ---- Instance and devices ----
ZELMOR_DSC_API void zelmor_createInstance(ZelmorInstance* instance);
ZELMOR_DSC_API void zelmor_releaseInstance(ZelmorInstance instance);
ZELMOR_DSC_API std::vector<std::string> zelmor_getConnectedDeviceList(bool refresh, ZelmorInstance instance);
ZELMOR_DSC_API TokenInfo zelmor_getTokenInfo(const char* deviceName, ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_initDevice(const char* deviceName, bool full, ZelmorInstance instance);

// ---- Password ----
ZELMOR_DSC_API int32_t zelmor_validatePassword(const char* deviceName, const char* password, int32_t userType,
                                               int32_t* retryCount, ZelmorInstance instance);
ZELMOR_DSC_API bool zelmor_changeUserPassword(const char* deviceName, const char* oldPassword,
                                              const char* newPassword, int32_t* retryCount, bool flag1, bool flag2,
                                              ZelmorInstance instance);

// ---- Objects ----
ZELMOR_DSC_API const std::vector<ZelmorKeyPair>& zelmor_getKeyPairList(const char* deviceName,
                                                                       ZelmorInstance instance);
ZELMOR_DSC_API const std::vector<ZelmorCertificate>& zelmor_getCertificateList(const char* deviceName,
                                                                               ZelmorInstance instance);
ZELMOR_DSC_API ZelmorBytes zelmor_getCertificateSubject(const uint8_t* der, int32_t derLength,
                                                        ZelmorInstance instance);
ZELMOR_DSC_API ZelmorBytes zelmor_getCertificateIssuer(const uint8_t* der, int32_t derLength,
                                                       ZelmorInstance instance);
ZELMOR_DSC_API ZelmorBytes zelmor_getCertificateSerialDER(const uint8_t* der, int32_t derLength,
                                                          ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_getCertificateDetails(const uint8_t* der, int32_t derLength,
                                                    CertificateDetails* details, ZelmorInstance instance);
ZELMOR_DSC_API ZelmorFileList zelmor_getFilesWithExtensionsAndConvertDER(const char* folder,
                                                                         const std::vector<std::string>& extensions,
                                                                         ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_importCertificate(const char* deviceName, const char* password,
                                                ZelmorCertificate* certificate, ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_importPfx(const char* deviceName, const char* password, ImportPFXDetails* details,
                                        ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_generateKeyPair(const char* deviceName, const char* password, ZelmorKeyPair* keyPair,
                                              ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_updateKeyPairDetails(const char* deviceName, const uint8_t* keyPairIdentifier,
                                                   const char* password, const char* label, const uint8_t* id,
                                                   int32_t idLength, ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_deleteKeyPair(const char* deviceName, const uint8_t* keyPairIdentifier,
                                            const char* password, bool keyFlag, ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_deleteCertificate(const char* deviceName, const uint8_t* certificateIdentifier,
                                                const char* password, ZelmorInstance instance);

// ---- Cryptography ----
ZELMOR_DSC_API int32_t zelmor_initHash(const char* deviceName, int32_t hashAlgorithm, ZelmorHashContext* context,
                                       ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_updateHash(ZelmorHashContext context, const uint8_t* data, uint32_t length,
                                         ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_finalHash(ZelmorHashContext context, uint8_t* output, uint32_t* length,
                                        ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_signHash(const char* deviceName, const uint8_t* keyPairIdentifier,
                                       const char* password, const uint8_t* data, uint32_t dataLength,
                                       uint8_t* signature, uint32_t* signatureLength, bool flag,
                                       ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_verifySignatureHash(uint32_t keyKind, const char* deviceName, const uint8_t* data,
                                                  uint32_t dataLength, const uint8_t* publicValue,
                                                  uint32_t publicValueLength, const uint8_t* signature,
                                                  uint32_t signatureLength, ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_encrypt(EncryptionType encryptionType, PaddingMode paddingMode,
                                      const uint8_t* data, uint32_t dataLength, uint8_t* output, uint32_t* outputLength,
                                      const uint8_t* publicKeyDer, uint32_t publicKeyDerLength,
                                      ZelmorInstance instance);
// On success *output points at a buffer allocated on the process heap
// (HeapAlloc(GetProcessHeap()) on Windows, malloc elsewhere); the caller frees it.
ZELMOR_DSC_API int32_t zelmor_decrypt(const char* deviceName, const uint8_t* keyPairIdentifier,
                                      const char* password, const uint8_t* data, uint32_t dataLength,
                                      uint8_t** output, uint32_t* outputLength, bool keyFlag,
                                      ZelmorInstance instance);
ZELMOR_DSC_API int32_t zelmor_generateRamdomNumber(const char* deviceName, uint32_t length, uint8_t* output,
                                                   bool flag, ZelmorInstance instance);
