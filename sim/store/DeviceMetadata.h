// Everything a virtual device stores besides its key and certificate files.
#pragma once

#include "Bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelmor::sim {

struct KeyPairEntry {
    uint32_t number = 0;
    Identifier identifier{};
    uint32_t kind = 0;
    uint32_t usage = 0;
    uint8_t flag = 0;
    Bytes id;
    std::string label;
};

struct CertificateEntry {
    uint32_t number = 0;
    Identifier identifier{};
    Bytes id;
    std::string label;
};

// The user PIN, kept only as a salted PBKDF2-HMAC-SHA256 hash.
struct PinRecord {
    uint32_t iterations = 0;
    Bytes salt;
    Bytes hash;
};

struct DeviceMetadata {
    std::string serial;
    std::string label;
    std::string model;
    std::string firmware;
    bool plugged = true;
    uint32_t maxRetries = 0;
    uint32_t remainingRetries = 0;
    PinRecord pin;
    uint32_t keyPairCapacity = 0;
    uint32_t certificateCapacity = 0;
    // Raised by one with every committed change.
    uint64_t generation = 0;
    std::vector<KeyPairEntry> keyPairs;
    std::vector<CertificateEntry> certificates;
};

// Bounds the store enforces on what it writes and what it accepts when reading.
namespace limits {
constexpr std::size_t maxSerialLength = 32;
constexpr std::size_t maxTokenTextLength = 64;  // device label and model
constexpr std::size_t maxObjectLabelLength = 128;
constexpr std::size_t maxObjectIdLength = 128;
constexpr uint32_t maxRetries = 100;
constexpr uint32_t maxCapacity = 1000;
constexpr uint32_t minPinIterations = 1000;
constexpr uint32_t maxPinIterations = 10000000;
constexpr std::size_t minPinLength = 4;
constexpr std::size_t maxPinLength = 63;
}  // namespace limits

// 1 to 32 characters of A-Z a-z 0-9 . _ -, not starting with a dot: safe as a folder name.
bool isValidSerial(const std::string& serial);
// "MAJOR.MINOR", each 0 to 255.
bool isValidFirmware(const std::string& firmware);
// Device label or model: printable, at most maxTokenTextLength bytes.
bool isValidTokenText(const std::string& text);

}  // namespace zelmor::sim
