// Hash contexts; the device name plays no part in hashing.
#include "../crypto/HashContext.h"
#include "../device/ResultCodes.h"
#include "ApiGuard.h"
#include "ZelmorDSCLibrary.h"

#include <cstring>

using namespace zelmor::sim;

namespace {
HashContext* contextFrom(ZelmorHashContext handle) {
    auto* context = static_cast<HashContext*>(handle);
    return context != nullptr && context->looksValid() ? context : nullptr;
}
}  // namespace

int32_t zelmor_initHash(const char* /*deviceName*/, int32_t hashAlgorithm, ZelmorHashContext* context,
                        ZelmorInstance) {
    return guarded<int32_t>(result::failed, [&] {
        if (context == nullptr) return result::invalidArgument;
        auto created = HashContext::create(hashAlgorithm);
        if (!created) return result::invalidArgument;
        *context = created.release();
        return result::ok;
    });
}

int32_t zelmor_updateHash(ZelmorHashContext context, const uint8_t* data, uint32_t length, ZelmorInstance) {
    return guarded<int32_t>(result::failed, [&] {
        HashContext* hash = contextFrom(context);
        if (hash == nullptr) return result::invalidArgument;
        return hash->update(data, length) ? result::ok : result::invalidArgument;
    });
}

// Ends the context whatever the outcome. *length gives the buffer's size on
// the way in (0: at least 64 bytes) and the digest's on the way out.
int32_t zelmor_finalHash(ZelmorHashContext context, uint8_t* output, uint32_t* length, ZelmorInstance) {
    return guarded<int32_t>(result::failed, [&] {
        std::unique_ptr<HashContext> hash(contextFrom(context));
        if (!hash) return result::invalidArgument;
        if (output == nullptr || length == nullptr) return result::invalidArgument;
        const auto digest = hash->finish();
        if (!digest) return result::failed;
        if (*length != 0 && *length < digest->size()) return result::bufferTooSmall;
        std::memcpy(output, digest->data(), digest->size());
        *length = static_cast<uint32_t>(digest->size());
        return result::ok;
    });
}
