// Link-time stand-in for the device library: it only gives the linker the
// library's name and symbols. It is never loaded; every function fails.
#include "ZelmorDSCLibrary.h"

namespace {
const std::vector<ZelmorKeyPair> noKeyPairs;
const std::vector<ZelmorCertificate> noCertificates;
constexpr int32_t failure = -1;
}  // namespace

void zelmor_createInstance(ZelmorInstance* instance) { *instance = nullptr; }
void zelmor_releaseInstance(ZelmorInstance) {}
std::vector<std::string> zelmor_getConnectedDeviceList(bool, ZelmorInstance) { return {}; }
TokenInfo zelmor_getTokenInfo(const char*, ZelmorInstance) { return {}; }
int32_t zelmor_initDevice(const char*, bool, ZelmorInstance) { return failure; }
int32_t zelmor_validatePassword(const char*, const char*, int32_t, int32_t*, ZelmorInstance) { return failure; }
bool zelmor_changeUserPassword(const char*, const char*, const char*, int32_t*, bool, bool, ZelmorInstance) {
    return false;
}
const std::vector<ZelmorKeyPair>& zelmor_getKeyPairList(const char*, ZelmorInstance) { return noKeyPairs; }
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
int32_t zelmor_signHash(const char*, const uint8_t*, const char*, const uint8_t*, uint32_t, uint8_t*, uint32_t*, bool,
                        ZelmorInstance) {
    return failure;
}
int32_t zelmor_verifySignatureHash(uint32_t, const char*, const uint8_t*, uint32_t, const uint8_t*, uint32_t,
                                   const uint8_t*, uint32_t, ZelmorInstance) {
    return failure;
}
int32_t zelmor_encrypt(EncryptionType, PaddingMode, const uint8_t*, uint32_t, uint8_t*, uint32_t*, const uint8_t*, uint32_t,
                       ZelmorInstance) {
    return failure;
}
int32_t zelmor_decrypt(const char*, const uint8_t*, const char*, const uint8_t*, uint32_t, uint8_t**, uint32_t*, bool,
                       ZelmorInstance) {
    return failure;
}
int32_t zelmor_generateRamdomNumber(const char*, uint32_t, uint8_t*, bool, ZelmorInstance) { return failure; }
