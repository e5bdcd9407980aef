// Creating, relabelling and deleting key pairs on a device. Each operation
// checks the password first (PasswordCheck.h) and returns its result when the
// check fails.
#pragma once

#include "DeviceRegistry.h"
#include "ResultCodes.h"

#include <optional>
#include <string>

namespace zelmor::sim {

struct KeyPairRequest {
    uint32_t kind = 0;
    std::string label;
    Bytes id;
    uint32_t usage = 0;
    uint8_t flag = 0;
};

struct CreatedKeyPair {
    int32_t result = result::failed;
    KeyPairEntry entry;
    Bytes publicValue;
};

// A new key of request.kind. deviceMemoryFull when the device holds its
// capacity of key pairs.
CreatedKeyPair generateKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                               const KeyPairRequest& request);

// Stores an existing key (request.kind is taken from the key).
CreatedKeyPair importKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                             std::shared_ptr<const PrivateKey> key, KeyPairRequest request);

// Replaces the label and/or the ID; an absent value keeps the current one.
int32_t updateKeyPairDetails(const DeviceStore& store, const PluggedDevice& device, const char* password,
                             const uint8_t* identifier, const std::optional<std::string>& label,
                             const std::optional<Bytes>& id);

int32_t deleteKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                      const uint8_t* identifier);

}  // namespace zelmor::sim
