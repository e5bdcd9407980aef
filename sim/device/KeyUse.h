// Private-key operations of a device: signing and decryption. Both check the
// password (without PBKDF2 once this instance has verified it) and use the
// key parsed when the device was loaded; neither touches a file.
#pragma once

#include "DeviceRegistry.h"
#include "ResultCodes.h"

namespace zelmor::sim {

int32_t signWithKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                        const uint8_t* identifier, const uint8_t* input, std::size_t size, Bytes& signature);

int32_t decryptWithKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                           const uint8_t* identifier, const uint8_t* ciphertext, std::size_t size, Bytes& plaintext);

}  // namespace zelmor::sim
