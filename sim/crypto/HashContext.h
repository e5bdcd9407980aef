// Incremental SHA-1 / SHA-2 hashing for the device's hash contexts.
#pragma once

#include "../store/Bytes.h"
#include "OpenSslHandles.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace zelmor::sim {

class HashContext {
public:
    // Algorithm identifiers 2 SHA-1, 3 SHA-256, 4 SHA-384, 5 SHA-512; null for others.
    static std::unique_ptr<HashContext> create(int32_t algorithm);

    bool update(const uint8_t* data, std::size_t size);
    // The digest; the context cannot be used again.
    std::optional<Bytes> finish();

    // Tells a live context from a stray pointer handed back by a caller.
    bool looksValid() const { return marker_ == liveMarker; }
    ~HashContext() { marker_ = 0; }

private:
    explicit HashContext(EvpMdCtxPtr ctx) : ctx_(std::move(ctx)) {}

    static constexpr uint64_t liveMarker = 0x5a454c4d48415348ULL;
    uint64_t marker_ = liveMarker;
    EvpMdCtxPtr ctx_;
    bool finished_ = false;
};

}  // namespace zelmor::sim
