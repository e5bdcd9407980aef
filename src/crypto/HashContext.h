// Hashing through the device library's hash contexts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ZelmorDSCLibrary.h"

namespace zelmor {

// A finished hash. Signing and verification offer 64 bytes with the length
// argument set to 64; digesting offers 128 bytes with the length set to 0.
struct HashValue {
    static constexpr uint32_t capacity = 128;
    uint8_t bytes[capacity] = {};
    uint32_t length = 0;
};
constexpr uint32_t signingHashBufferSize = 64;
constexpr uint32_t digestBufferSize = HashValue::capacity;
static_assert(signingHashBufferSize <= HashValue::capacity);

enum class HashStep { Init, Update, Final };

struct HashOutcome {
    int32_t result = ZelmorResult::ok;
    HashStep failedStep = HashStep::Init;  // meaningful when result is not ok
};

// Feeds data to the context, in pieces that the library's 32-bit length can carry.
int32_t updateHashContext(ZelmorHashContext context, const uint8_t* data, std::size_t length);

// Finishes the context into hash, offering bufferSize bytes (one of the sizes
// above, within the capacity) and lengthIn as the length argument. The
// reported length is clamped to bufferSize so that a misbehaving library
// cannot make the module read past the buffer.
int32_t finishHashContext(ZelmorHashContext context, uint32_t bufferSize, uint32_t lengthIn, HashValue* hash);

// Hashes the input of a signature or verification with a context of its own
// (opened, fed and finished here), into the 64-byte signing hash buffer.
HashOutcome hashOnce(const std::string& deviceName, int32_t hashAlgorithm, const uint8_t* data, std::size_t length,
                     HashValue* hash);

// Finishes a context that the module drops unfinished, so that the library can
// release it: there is no other way to end a context. Null is ignored.
void releaseHashContext(ZelmorHashContext context);

// The hash context of an operation that ended during a look-up, finished
// when this goes out of scope. Declared before the look-up, it is finished
// after sessionTableMutex is released. One look-up ends one operation at most.
class DroppedHashContext {
public:
    DroppedHashContext() = default;
    ~DroppedHashContext() { releaseHashContext(context); }
    DroppedHashContext(const DroppedHashContext&) = delete;
    DroppedHashContext& operator=(const DroppedHashContext&) = delete;

    ZelmorHashContext context = nullptr;
};

}  // namespace zelmor
