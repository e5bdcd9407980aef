// Signing, verification, encryption, decryption and random bytes.
#include "../crypto/PublicKey.h"
#include "../crypto/PublicKeyCache.h"
#include "../crypto/RsaCipher.h"
#include "../crypto/Signatures.h"
#include "../device/KeyUse.h"
#include "ApiGuard.h"
#include "SimInstance.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <openssl/crypto.h>
#include <openssl/rand.h>

using namespace zelmor::sim;

namespace {

constexpr int32_t firstRsaEncryptionType = 7;
constexpr int32_t lastRsaEncryptionType = 10;
constexpr int32_t pkcs1Padding = 1;

PublicKeyCache& verificationKeys() {
    static PublicKeyCache cache;
    return cache;
}

// Copies the result into a caller's buffer whose size is *length on the way
// in (0 meaning the interface's 1024-byte buffer).
int32_t copyOut(const Bytes& bytes, uint8_t* output, uint32_t* length) {
    const std::size_t capacity = *length != 0 ? *length : zelmorOutputBufferSize;
    if (bytes.size() > capacity) {
        *length = static_cast<uint32_t>(bytes.size());
        return result::bufferTooSmall;
    }
    std::copy(bytes.begin(), bytes.end(), output);
    *length = static_cast<uint32_t>(bytes.size());
    return result::ok;
}

}  // namespace

int32_t zelmor_signHash(const char* deviceName, const uint8_t* keyPairIdentifier, const char* password,
                        const uint8_t* data, uint32_t dataLength, uint8_t* signature, uint32_t* signatureLength,
                        bool /*flag*/, ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        if (signature == nullptr || signatureLength == nullptr) return result::invalidArgument;
        Bytes produced;
        const int32_t signedResult = signWithKeyPair(SimInstance::from(instance)->store(), device, password,
                                                     keyPairIdentifier, data, dataLength, produced);
        return signedResult == result::ok ? copyOut(produced, signature, signatureLength) : signedResult;
    });
}

int32_t zelmor_verifySignatureHash(uint32_t keyKind, const char* /*deviceName*/, const uint8_t* data,
                                   uint32_t dataLength, const uint8_t* publicValue, uint32_t publicValueLength,
                                   const uint8_t* signature, uint32_t signatureLength, ZelmorInstance) {
    return guarded<int32_t>(result::failed, [&] {
        const auto key = verificationKeys().get(keyKind, publicValue, publicValueLength);
        if (!key) return result::invalidArgument;
        return verifyInput(*key, data, dataLength, signature, signatureLength) ? result::ok
                                                                                             : result::signatureInvalid;
    });
}

int32_t zelmor_encrypt(EncryptionType encryptionType, PaddingMode paddingMode, const uint8_t* data,
                       uint32_t dataLength, uint8_t* output, uint32_t* outputLength, const uint8_t* publicKeyDer,
                       uint32_t publicKeyDerLength, ZelmorInstance) {
    return guarded<int32_t>(result::failed, [&] {
        if (encryptionType < firstRsaEncryptionType || encryptionType > lastRsaEncryptionType ||
            paddingMode != pkcs1Padding || output == nullptr || outputLength == nullptr)
            return result::invalidArgument;
        const EvpPkeyPtr key = publicKeyFromSpki(publicKeyDer, publicKeyDerLength);
        if (!key) return result::invalidArgument;
        const auto ciphertext = rsaEncrypt(key.get(), data, dataLength);
        if (!ciphertext) return result::dataInvalid;
        return copyOut(*ciphertext, output, outputLength);
    });
}

int32_t zelmor_decrypt(const char* deviceName, const uint8_t* keyPairIdentifier, const char* password,
                       const uint8_t* data, uint32_t dataLength, uint8_t** output, uint32_t* outputLength,
                       bool /*keyFlag*/, ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        if (output == nullptr || outputLength == nullptr) return result::invalidArgument;
        Bytes plaintext;
        const int32_t decrypted = decryptWithKeyPair(SimInstance::from(instance)->store(), device, password,
                                                     keyPairIdentifier, data, dataLength, plaintext);
        if (decrypted != result::ok) return decrypted;
        // The caller releases the buffer with free().
        auto* buffer = static_cast<uint8_t*>(std::malloc(plaintext.empty() ? 1 : plaintext.size()));
        if (buffer == nullptr) return result::failed;
        std::copy(plaintext.begin(), plaintext.end(), buffer);
        OPENSSL_cleanse(plaintext.data(), plaintext.size());
        *output = buffer;
        *outputLength = static_cast<uint32_t>(plaintext.size());
        return result::ok;
    });
}

// Random bytes need no device; the module calls this without an instance.
int32_t zelmor_generateRamdomNumber(const char* /*deviceName*/, uint32_t length, uint8_t* output, bool /*flag*/,
                                    ZelmorInstance) {
    return guarded<int32_t>(result::failed, [&] {
        if (length == 0) return result::ok;
        if (output == nullptr || length > static_cast<uint32_t>(INT_MAX)) return result::invalidArgument;
        return RAND_bytes(output, static_cast<int>(length)) == 1 ? result::ok : result::failed;
    });
}
