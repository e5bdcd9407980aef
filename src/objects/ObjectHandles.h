// Object handles and lookups of device records.
//
// Handles are built from the records' numbers: private key 0x70000000 +
// number, public key 0x70001000 + number, certificate 0x70002000 + number.
// Lookups fetch the device's current list and return independent copies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"

namespace zelmor {

constexpr uint32_t privateKeyHandleBase = 0x70000000;
constexpr uint32_t publicKeyHandleBase = 0x70001000;
constexpr uint32_t certificateHandleBase = 0x70002000;

// Key-pair numbers a handle can name: below the distance between the bases.
constexpr uint32_t keyPairNumberLimit = publicKeyHandleBase - privateKeyHandleBase;
// Highest certificate number whose handle still fits in 32 bits.
constexpr uint32_t certificateNumberMax = 0xFFFFFFFFu - certificateHandleBase;

enum class ObjectKind { None, PrivateKey, PublicKey, Certificate };

struct DecodedHandle {
    ObjectKind kind = ObjectKind::None;  // None: below 0x70000000 or above 32 bits
    uint32_t number = 0;
};

DecodedHandle decodeObjectHandle(CK_OBJECT_HANDLE handle);

// Copy of the device's key pair / certificate of that number; false if none.
bool findKeyPair(const std::string& deviceName, uint32_t number, ZelmorKeyPair* keyPair);
bool findCertificate(const std::string& deviceName, uint32_t number, ZelmorCertificate* certificate);

// Handles of a record. Only records whose number a handle can carry
// (hasObjectHandles) have handles that decode back to them.
inline CK_OBJECT_HANDLE privateKeyHandle(uint32_t number) { return privateKeyHandleBase + number; }
inline CK_OBJECT_HANDLE publicKeyHandle(uint32_t number) { return publicKeyHandleBase + number; }
inline CK_OBJECT_HANDLE certificateHandle(uint32_t number) { return certificateHandleBase + number; }
inline bool hasObjectHandles(const ZelmorKeyPair& keyPair) { return keyPair.number < keyPairNumberLimit; }
inline bool hasObjectHandles(const ZelmorCertificate& certificate) {
    return certificate.number <= certificateNumberMax;
}

// Copies of the device's current lists (the library's own lists are only
// valid until its next call).
std::vector<ZelmorKeyPair> fetchKeyPairList(const std::string& deviceName);
std::vector<ZelmorCertificate> fetchCertificateList(const std::string& deviceName);

}  // namespace zelmor
