// Finding an object the device has just created by the identifier the
// device library returned for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelmor {

// The lookups count a record as found only when a handle can carry its
// number: a key pair below 0x1000, a certificate whose handle stays within
// 32 bits.

// Number of the first key pair of the device whose 16-byte identifier equals
// the first 16 bytes of identifier. False when none matches or when fewer
// than 16 bytes were returned.
bool findKeyPairByIdentifier(const std::string& deviceName, const uint8_t* identifier, std::size_t length,
                             uint32_t* number);

// Number of the first certificate of the device with this 16-byte identifier.
bool findCertificateByIdentifier(const std::string& deviceName, const uint8_t* identifier, uint32_t* number);

// True when a new key pair's number can be carried by its handles.
bool generatedNumberFits(uint32_t number);

}  // namespace zelmor
