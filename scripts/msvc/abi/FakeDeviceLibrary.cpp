// The MSVC-ABI fake under the names the module imports. Built with
// ZELMOR_FAKE_DIFFERENT_CALL it is the fake of a library the module cannot
// bind to: zelmor_changeUserPassword returns a BOOL (a 32-bit integer) where
// the module reads a bool, and zelmor_generateRamdomNumber is not exported.
#include "FakeDevice.h"

using namespace fake;

extern "C" __declspec(dllexport) bool fakeStillIntact() { return stillIntact(); }

void zelmor_createInstance(ZelmorInstance* instance) { createInstance(instance); }
void zelmor_releaseInstance(ZelmorInstance instance) { releaseInstance(instance); }
std::vector<std::string> zelmor_getConnectedDeviceList(bool, ZelmorInstance) { return connectedDevices(); }
TokenInfo zelmor_getTokenInfo(const char* name, ZelmorInstance) { return tokenInfo(name); }
int32_t zelmor_initDevice(const char*, bool, ZelmorInstance) { return failure; }
int32_t zelmor_validatePassword(const char* name, const char* pin, int32_t, int32_t* retryCount, ZelmorInstance) {
    return validatePassword(name, pin, retryCount);
}
#if defined(ZELMOR_FAKE_DIFFERENT_CALL)
__declspec(dllexport) int zelmor_changeUserPassword(const char*, const char*, const char*, long*, bool, bool,
                                                    ZelmorInstance) {
    return 0;
}
#else
bool zelmor_changeUserPassword(const char*, const char*, const char*, int32_t*, bool, bool, ZelmorInstance) {
    return false;
}
#endif
const std::vector<ZelmorKeyPair>& zelmor_getKeyPairList(const char*, ZelmorInstance) {
    return keyPairs<ZelmorKeyPair>();
}
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
int32_t zelmor_signHash(const char* name, const uint8_t* keyPairIdentifier, const char* pin, const uint8_t* data,
                        uint32_t dataLength, uint8_t* signature, uint32_t* length, bool, ZelmorInstance) {
    return sign(name, keyPairIdentifier, pin, data, dataLength, signature, length);
}
int32_t zelmor_verifySignatureHash(uint32_t keyKind, const char*, const uint8_t* data, uint32_t dataLength,
                                   const uint8_t* publicValue, uint32_t publicValueLength, const uint8_t* signature,
                                   uint32_t length, ZelmorInstance) {
    return verify(keyKind, data, dataLength, publicValue, publicValueLength, signature, length);
}
int32_t zelmor_encrypt(EncryptionType, PaddingMode, const uint8_t*, uint32_t, uint8_t*, uint32_t*, const uint8_t*,
                       uint32_t, ZelmorInstance) {
    return failure;
}
int32_t zelmor_decrypt(const char* name, const uint8_t* keyPairIdentifier, const char* pin, const uint8_t*,
                       uint32_t dataLength, uint8_t** output, uint32_t* outputLength, bool, ZelmorInstance) {
    return decrypt(name, keyPairIdentifier, pin, dataLength, output, outputLength);
}
#if !defined(ZELMOR_FAKE_DIFFERENT_CALL)
int32_t zelmor_generateRamdomNumber(const char*, uint32_t, uint8_t*, bool, ZelmorInstance) { return failure; }
#endif
