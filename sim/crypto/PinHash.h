// PIN hashing and the in-memory token of a verified PIN.
#pragma once

#include "../store/Bytes.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace zelmor::sim {

constexpr std::size_t pinSaltSize = 16;
constexpr uint32_t defaultPinIterations = 100000;

// PBKDF2-HMAC-SHA256, 32 bytes. Throws std::runtime_error if libcrypto fails.
Bytes derivePinHash(std::string_view pin, const Bytes& salt, uint32_t iterations);

// Random bytes from the system's generator. Throws std::runtime_error on failure.
Bytes randomBytes(std::size_t count);

// SHA-256 of a secret random key drawn once per process, followed by the PIN:
// lets a process recognise a PIN it has already verified without keeping the
// PIN itself and without running PBKDF2 again.
using PinTag = std::array<uint8_t, 32>;
PinTag pinTag(std::string_view pin);

bool constantTimeEqual(const uint8_t* a, const uint8_t* b, std::size_t size);

}  // namespace zelmor::sim
