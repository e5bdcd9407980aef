// Bounded reads of the variable fields of device records.
//
// Records come from the device library and are not trusted: a length field
// may be negative or larger than its fixed-size field, and a label may lack
// its terminating zero. Every reader of publicValue, id, value or label goes
// through these functions, which never reach past the field they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ZelmorDSCLibrary.h"

namespace zelmor {

// A read-only run of bytes inside a record (or elsewhere); no ownership.
struct ByteRange {
    const uint8_t* data = nullptr;
    std::size_t size = 0;

    std::vector<uint8_t> bytes() const { return std::vector<uint8_t>(data, data + size); }
    bool equals(const std::vector<uint8_t>& other) const;
};

// A record length clamped to [0, fieldSize].
std::size_t clampedLength(int32_t length, std::size_t fieldSize);

ByteRange publicValueOf(const ZelmorKeyPair& keyPair);
ByteRange idOf(const ZelmorKeyPair& keyPair);
std::string labelOf(const ZelmorKeyPair& keyPair);

ByteRange valueOf(const ZelmorCertificate& certificate);
ByteRange idOf(const ZelmorCertificate& certificate);
std::string labelOf(const ZelmorCertificate& certificate);

}  // namespace zelmor
