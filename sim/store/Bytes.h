// Byte strings, 16-byte object identifiers and their hexadecimal text form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelmor::sim {

using Bytes = std::vector<uint8_t>;
using Identifier = std::array<uint8_t, 16>;

// Lower-case hexadecimal, two digits per byte.
std::string toHex(const uint8_t* data, std::size_t size);
inline std::string toHex(const Bytes& bytes) { return toHex(bytes.data(), bytes.size()); }
inline std::string toHex(const Identifier& id) { return toHex(id.data(), id.size()); }

// Accepts upper and lower case; nullopt for an odd length or a non-hex character.
std::optional<Bytes> fromHex(std::string_view text);
std::optional<Identifier> identifierFromHex(std::string_view text);

Identifier identifierFrom(const uint8_t* bytes);

}  // namespace zelmor::sim
