#include "crypto/HashContext.h"

#include <algorithm>

#include "frame/ModuleState.h"
#include "utils/DevicePieces.h"

namespace zelmor {

int32_t updateHashContext(ZelmorHashContext context, const uint8_t* data, std::size_t length) {
    ZelmorInstance instance = moduleState().instance();
    return forEachDevicePiece(data, length, ZelmorResult::ok, [&](const uint8_t* piece, uint32_t pieceLength) {
        return zelmor_updateHash(context, piece, pieceLength, instance);
    });
}

int32_t finishHashContext(ZelmorHashContext context, uint32_t bufferSize, uint32_t lengthIn, HashValue* hash) {
    std::fill(hash->bytes, hash->bytes + bufferSize, uint8_t{0});
    uint32_t length = lengthIn;
    int32_t result = zelmor_finalHash(context, hash->bytes, &length, moduleState().instance());
    hash->length = result == ZelmorResult::ok ? std::min(length, bufferSize) : 0;
    return result;
}

HashOutcome hashOnce(const std::string& deviceName, int32_t hashAlgorithm, const uint8_t* data, std::size_t length,
                     HashValue* hash) {
    HashOutcome outcome;
    ZelmorHashContext context = nullptr;
    outcome.result = zelmor_initHash(deviceName.c_str(), hashAlgorithm, &context, moduleState().instance());
    if (outcome.result != ZelmorResult::ok) return outcome;  // failedStep is Init
    outcome.result = updateHashContext(context, data, length);
    if (outcome.result != ZelmorResult::ok) {
        outcome.failedStep = HashStep::Update;
        releaseHashContext(context);
        return outcome;
    }
    outcome.result = finishHashContext(context, signingHashBufferSize, signingHashBufferSize, hash);
    outcome.failedStep = HashStep::Final;
    return outcome;
}

void releaseHashContext(ZelmorHashContext context) {
    if (context == nullptr) return;
    HashValue scratch;
    finishHashContext(context, HashValue::capacity, HashValue::capacity, &scratch);
}

}  // namespace zelmor
