#include "objects/RecordView.h"

#include <algorithm>
#include <cstring>

namespace zelmor {

namespace {

// Text up to the first zero byte, at most maxLength bytes.
std::string boundedText(const char* field, std::size_t maxLength) {
    const void* end = std::memchr(field, 0, maxLength);
    std::size_t length = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : maxLength;
    return std::string(field, length);
}

}  // namespace

bool ByteRange::equals(const std::vector<uint8_t>& other) const {
    return other.size() == size && (size == 0 || std::memcmp(other.data(), data, size) == 0);
}

std::size_t clampedLength(int32_t length, std::size_t fieldSize) {
    return std::min(static_cast<std::size_t>(std::max<int32_t>(length, 0)), fieldSize);
}

// The clamps below keep every copy and comparison inside the record's own
// fixed-size field, whatever its length field says.

ByteRange publicValueOf(const ZelmorKeyPair& keyPair) {
    return ByteRange{keyPair.publicValue, clampedLength(keyPair.publicValueLength, sizeof keyPair.publicValue)};
}

ByteRange idOf(const ZelmorKeyPair& keyPair) {
    return ByteRange{keyPair.id, clampedLength(keyPair.idLength, sizeof keyPair.id)};
}

// The label field has room for 128 bytes of text and the terminator; a record
// without a terminator is read as its first 128 bytes.
std::string labelOf(const ZelmorKeyPair& keyPair) { return boundedText(keyPair.label, zelmorLabelSize); }

ByteRange valueOf(const ZelmorCertificate& certificate) {
    return ByteRange{certificate.value, clampedLength(certificate.valueLength, sizeof certificate.value)};
}

ByteRange idOf(const ZelmorCertificate& certificate) {
    return ByteRange{certificate.id, clampedLength(certificate.idLength, sizeof certificate.id)};
}

// A 128-byte certificate label has no terminator: stop at the field's end.
std::string labelOf(const ZelmorCertificate& certificate) {
    return boundedText(certificate.label, sizeof certificate.label);
}

}  // namespace zelmor
