// Results of the device operations. 0, 40 and 48 are the ones callers
// interpret; the others only tell failures apart in logs.
#pragma once

#include <cstdint>

namespace zelmor::sim::result {

constexpr int32_t ok = 0;
constexpr int32_t failed = 1;            // libcrypto or another unexpected failure
constexpr int32_t invalidArgument = 2;   // null pointer, bad length, unknown kind or algorithm
constexpr int32_t pinIncorrect = 3;      // wrong or empty password; tries remain
constexpr int32_t pinLocked = 4;         // no tries left
constexpr int32_t objectNotFound = 5;    // no key pair or certificate with that identifier
constexpr int32_t dataInvalid = 6;       // input the operation cannot use (not a certificate, inconsistent key, ...)
constexpr int32_t storeFailure = 7;      // the store could not be written; it keeps its earlier content
constexpr int32_t signatureInvalid = 8;
constexpr int32_t bufferTooSmall = 9;
constexpr int32_t deviceMemoryFull = 40;
constexpr int32_t deviceNotConnected = 48;  // unplugged, unknown or damaged device, or no instance

}  // namespace zelmor::sim::result
