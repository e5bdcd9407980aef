// Between the store's entries and the fixed records of the library interface.
#pragma once

#include "../store/DeviceMetadata.h"
#include "ZelmorDSCLibrary.h"

#include <optional>
#include <string>

namespace zelmor::sim {

ZelmorKeyPair toKeyPairRecord(const KeyPairEntry& entry, const Bytes& publicValue);
ZelmorCertificate toCertificateRecord(const CertificateEntry& entry, const Bytes& der);

// Text of a fixed label field, stopping at a zero byte or after `capacity` bytes.
std::string fixedFieldText(const char* field, std::size_t capacity);

// The first `length` bytes of an ID field; nullopt for a length outside 0 to 128
// or a missing buffer.
std::optional<Bytes> idBytes(const uint8_t* id, int32_t length);

}  // namespace zelmor::sim
