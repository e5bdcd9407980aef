#include "crypto/HashContext.h"

#include <algorithm>
#include <limits>

#include "frame/ModuleState.h"

namespace zelmor {

int32_t updateHashContext(ZelmorHashContext context, const uint8_t* data, std::size_t length) {
    constexpr std::size_t largestPiece = std::numeric_limits<uint32_t>::max();
    ZelmorInstance instance = moduleState().instance();
    do {
        std::size_t piece = std::min(length, largestPiece);
        int32_t result = zelmor_updateHash(context, data, static_cast<uint32_t>(piece), instance);
        if (result != ZelmorResult::ok) return result;
        data += piece;
        length -= piece;
    } while (length > 0);
    return ZelmorResult::ok;
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
