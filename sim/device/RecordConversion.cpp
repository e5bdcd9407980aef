#include "RecordConversion.h"

#include <algorithm>
#include <cstring>

namespace zelmor::sim {

ZelmorKeyPair toKeyPairRecord(const KeyPairEntry& entry, const Bytes& publicValue) {
    ZelmorKeyPair record{};
    record.number = entry.number;
    std::memcpy(record.identifier, entry.identifier.data(), sizeof record.identifier);
    const std::size_t publicSize = std::min(publicValue.size(), sizeof record.publicValue);
    std::copy_n(publicValue.begin(), publicSize, record.publicValue);
    record.publicValueLength = static_cast<int32_t>(publicSize);
    const std::size_t idSize = std::min(entry.id.size(), sizeof record.id);
    std::copy_n(entry.id.begin(), idSize, record.id);
    record.idLength = static_cast<int32_t>(idSize);
    std::memcpy(record.label, entry.label.data(), std::min(entry.label.size(), zelmorLabelSize));
    record.usageFlags = entry.usage;
    record.keyKind = entry.kind;
    record.keyFlag = entry.flag;
    return record;
}

ZelmorCertificate toCertificateRecord(const CertificateEntry& entry, const Bytes& der) {
    ZelmorCertificate record{};
    record.number = entry.number;
    std::memcpy(record.identifier, entry.identifier.data(), sizeof record.identifier);
    const std::size_t valueSize = std::min(der.size(), sizeof record.value);
    std::copy_n(der.begin(), valueSize, record.value);
    record.valueLength = static_cast<int32_t>(valueSize);
    const std::size_t idSize = std::min(entry.id.size(), sizeof record.id);
    std::copy_n(entry.id.begin(), idSize, record.id);
    record.idLength = static_cast<int32_t>(idSize);
    std::memcpy(record.label, entry.label.data(), std::min(entry.label.size(), sizeof record.label));
    return record;
}

std::string fixedFieldText(const char* field, std::size_t capacity) {
    return std::string(field, ::strnlen(field, capacity));
}

std::optional<Bytes> idBytes(const uint8_t* id, int32_t length) {
    if (length < 0 || static_cast<std::size_t>(length) > limits::maxObjectIdLength) return std::nullopt;
    if (length == 0) return Bytes{};
    if (id == nullptr) return std::nullopt;
    return Bytes(id, id + length);
}

}  // namespace zelmor::sim
