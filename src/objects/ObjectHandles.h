// Object handles and lookups of device records.
//
// Handles are built from the records' numbers: private key 0x70000000 +
// number, public key 0x70001000 + number, certificate 0x70002000 + number.
// Lookups fetch the device's current list and return independent copies.
#pragma once

#include <cstdint>
#include <string>

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"

namespace zelmor {

constexpr uint32_t privateKeyHandleBase = 0x70000000;
constexpr uint32_t publicKeyHandleBase = 0x70001000;
constexpr uint32_t certificateHandleBase = 0x70002000;

enum class ObjectKind { None, PrivateKey, PublicKey, Certificate };

struct DecodedHandle {
    ObjectKind kind = ObjectKind::None;  // None: below 0x70000000 or above 32 bits
    uint32_t number = 0;
};

DecodedHandle decodeObjectHandle(CK_OBJECT_HANDLE handle);

// Copy of the device's key pair / certificate of that number; false if none.
bool findKeyPair(const std::string& deviceName, uint32_t number, ZelmorKeyPair* keyPair);
bool findCertificate(const std::string& deviceName, uint32_t number, ZelmorCertificate* certificate);

}  // namespace zelmor
