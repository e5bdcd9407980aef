// The MSVC-ABI fake with its operations declared as another reading of the
// same interface could declare them: inputs without const, unsigned long and
// int lengths, int for the enums, references for pointers, records of our
// layout under other tags, typed and integer handles. Every difference leaves
// the x64 call as it is, so the module binds to these names through the
// import library that the build makes from them (ZELMOR_DEVICE_EXPORTS).
#include "FakeDevice.h"

using namespace fake;
#define EXPORT __declspec(dllexport)

namespace {
template <typename T>
uint32_t* u32(T* value) {
    static_assert(sizeof(T) == sizeof(uint32_t), "a 32-bit integer");
    return reinterpret_cast<uint32_t*>(value);
}
}  // namespace

class MakerKeyPair : public ZelmorKeyPair {};
struct MakerCertificateDetails : CertificateDetails {};
class PfxRecord : public ImportPFXDetails {};
struct Context;

extern "C" EXPORT bool fakeStillIntact() { return stillIntact(); }

EXPORT void zelmor_createInstance(void*& instance) { createInstance(&instance); }
EXPORT void zelmor_releaseInstance(unsigned __int64 instance) { releaseInstance(reinterpret_cast<void*>(instance)); }
std::vector<std::string> zelmor_getConnectedDeviceList(bool, ZelmorInstance) { return connectedDevices(); }
EXPORT TokenInfo zelmor_getTokenInfo(char* name, void*) { return tokenInfo(name); }
EXPORT int zelmor_initDevice(const char*, bool, Context*) { return failure; }
EXPORT int zelmor_validatePassword(char* name, char* pin, unsigned int, long& retryCount, void*) {
    return validatePassword(name, pin, reinterpret_cast<int32_t*>(&retryCount));
}
EXPORT bool zelmor_changeUserPassword(const char*, const char*, const char*, unsigned long*, bool, bool, void*) {
    return false;
}
EXPORT const std::vector<MakerKeyPair>& zelmor_getKeyPairList(char*, void*) { return keyPairs<MakerKeyPair>(); }
const std::vector<ZelmorCertificate>& zelmor_getCertificateList(const char*, ZelmorInstance) {
    return noCertificates;
}
EXPORT ZelmorBytes zelmor_getCertificateSubject(const char*, long, void*) { return {}; }
EXPORT ZelmorBytes zelmor_getCertificateIssuer(unsigned char*, unsigned int, void*) { return {}; }
EXPORT ZelmorBytes zelmor_getCertificateSerialDER(const void*, int, void*) { return {}; }
EXPORT int zelmor_getCertificateDetails(const unsigned char*, int, MakerCertificateDetails&, void*) { return failure; }
ZelmorFileList zelmor_getFilesWithExtensionsAndConvertDER(const char*, const std::vector<std::string>&,
                                                          ZelmorInstance) {
    return {};
}
EXPORT int zelmor_importCertificate(char*, char*, ZelmorCertificate&, void*) { return failure; }
EXPORT int zelmor_importPfx(const char*, const char*, PfxRecord*, void*) { return failure; }
EXPORT int zelmor_generateKeyPair(char*, const char*, MakerKeyPair*, void*) { return failure; }
EXPORT int zelmor_updateKeyPairDetails(char*, unsigned char*, char*, char*, unsigned char*, unsigned long, void*) {
    return failure;
}
EXPORT int zelmor_deleteKeyPair(char*, unsigned char*, char*, bool, void*) { return failure; }
EXPORT int zelmor_deleteCertificate(char*, unsigned char*, char*, void*) { return failure; }
EXPORT int zelmor_initHash(const char*, ZelmorHashAlgorithm, void*&, void*) { return failure; }
EXPORT int zelmor_updateHash(unsigned __int64, const unsigned char*, unsigned long, void*) { return failure; }
EXPORT int zelmor_finalHash(void*, unsigned char*, unsigned long&, void*) { return failure; }
EXPORT int zelmor_signHash(char* name, unsigned char* keyPairIdentifier, char* pin, unsigned char* data,
                           unsigned long dataLength, unsigned char* signature, unsigned long* length, bool, void*) {
    return sign(name, keyPairIdentifier, pin, data, dataLength, signature, u32(length));
}
EXPORT int zelmor_verifySignatureHash(int keyKind, char*, unsigned char* data, int dataLength,
                                      unsigned char* publicValue, int publicValueLength, unsigned char* signature,
                                      int length, void*) {
    return verify(static_cast<uint32_t>(keyKind), data, static_cast<uint32_t>(dataLength), publicValue,
                  static_cast<uint32_t>(publicValueLength), signature, static_cast<uint32_t>(length));
}
EXPORT int zelmor_encrypt(int, int, unsigned char*, unsigned long, unsigned char*, unsigned long*, unsigned char*,
                          unsigned long, void*) {
    return failure;
}
EXPORT int zelmor_decrypt(const char* name, const unsigned char* keyPairIdentifier, const char* pin,
                          const unsigned char*, unsigned int dataLength, unsigned char*& output,
                          unsigned int& outputLength, bool, void*) {
    return decrypt(name, keyPairIdentifier, pin, dataLength, &output, &outputLength);
}
EXPORT int zelmor_generateRamdomNumber(const char*, unsigned long, unsigned char*, bool, void*) { return failure; }
