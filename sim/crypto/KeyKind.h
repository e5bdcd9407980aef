// The device's key kinds: RSA sizes and EC curves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zelmor::sim {

struct KeyKindInfo {
    bool isRsa = false;
    int rsaBits = 0;                  // RSA kinds
    const char* curveName = nullptr;  // EC kinds, OpenSSL group name
    std::size_t fieldBytes = 0;       // EC kinds: bytes of one coordinate, and of r and of s
};

// Kinds 1 to 7; nullopt otherwise.
std::optional<KeyKindInfo> describeKeyKind(uint32_t kind);

// Kind of an RSA key of this modulus size; nullopt for sizes the device does not hold.
std::optional<uint32_t> rsaKindForBits(int bits);

// "RSA-2048", "EC-P256", ... for display.
const char* keyKindName(uint32_t kind);

}  // namespace zelmor::sim
