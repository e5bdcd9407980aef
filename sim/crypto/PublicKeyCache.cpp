#include "PublicKeyCache.h"

#include "KeyKind.h"
#include "PublicKey.h"

#include <algorithm>
#include <cstring>

namespace zelmor::sim {

std::shared_ptr<const VerificationKey> PublicKeyCache::get(uint32_t kind, const uint8_t* value, std::size_t size) {
    if (value == nullptr || size == 0) return nullptr;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
            return entry.key->kind == kind && entry.value.size() == size &&
                   std::memcmp(entry.value.data(), value, size) == 0;
        });
        if (found != entries_.end()) {
            std::rotate(found, found + 1, entries_.end());
            return entries_.back().key;
        }
    }
    EvpPkeyPtr built = publicKeyFromValue(kind, value, size);
    if (!built) return nullptr;
    const auto info = describeKeyKind(kind);
    auto key = std::make_shared<const VerificationKey>(std::move(built), kind, !info || info->isRsa);
    std::lock_guard<std::mutex> guard(mutex_);
    if (entries_.size() == capacity) entries_.erase(entries_.begin());
    entries_.push_back({Bytes(value, value + size), key});
    return key;
}

}  // namespace zelmor::sim
