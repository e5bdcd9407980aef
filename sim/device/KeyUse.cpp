#include "KeyUse.h"

#include "../crypto/RsaCipher.h"
#include "../crypto/Signatures.h"
#include "PasswordCheck.h"

namespace zelmor::sim {

namespace {

// The key after the password check, or the failure result.
std::pair<int32_t, const PrivateKey*> unlockKey(const DeviceStore& store, const PluggedDevice& device,
                                                const char* password, const uint8_t* identifier) {
    if (identifier == nullptr) return {result::invalidArgument, nullptr};
    const PasswordOutcome verified = checkPassword(store, device, password);
    if (verified.result != result::ok) return {verified.result, nullptr};
    const int index = device.snapshot->findKeyPair(identifier);
    if (index < 0) return {result::objectNotFound, nullptr};
    return {result::ok, device.snapshot->keys[index].get()};
}

}  // namespace

int32_t signWithKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                        const uint8_t* identifier, const uint8_t* input, std::size_t size, Bytes& signature) {
    if (input == nullptr && size != 0) return result::invalidArgument;
    const auto [unlocked, key] = unlockKey(store, device, password, identifier);
    if (unlocked != result::ok) return unlocked;
    auto produced = signInput(*key, input, size);
    if (!produced) return result::dataInvalid;
    signature = std::move(*produced);
    return result::ok;
}

int32_t decryptWithKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                           const uint8_t* identifier, const uint8_t* ciphertext, std::size_t size, Bytes& plaintext) {
    if (ciphertext == nullptr || size == 0) return result::invalidArgument;
    const auto [unlocked, key] = unlockKey(store, device, password, identifier);
    if (unlocked != result::ok) return unlocked;
    auto decrypted = rsaDecrypt(*key, ciphertext, size);
    if (!decrypted) return result::dataInvalid;
    plaintext = std::move(*decrypted);
    return result::ok;
}

}  // namespace zelmor::sim
