#include "HashContext.h"

#include "ZelmorDSCLibrary.h"

namespace zelmor::sim {

namespace {

// The hash implementations, looked up once: a lookup per context costs more
// than hashing a short message.
struct FetchedHashes {
    EvpMdPtr sha1{EVP_MD_fetch(nullptr, "SHA1", nullptr)};
    EvpMdPtr sha256{EVP_MD_fetch(nullptr, "SHA256", nullptr)};
    EvpMdPtr sha384{EVP_MD_fetch(nullptr, "SHA384", nullptr)};
    EvpMdPtr sha512{EVP_MD_fetch(nullptr, "SHA512", nullptr)};
};

const EVP_MD* hashFor(int32_t algorithm) {
    static const FetchedHashes hashes;
    switch (algorithm) {
    case hashSha1: return hashes.sha1.get();
    case hashSha256: return hashes.sha256.get();
    case hashSha384: return hashes.sha384.get();
    case hashSha512: return hashes.sha512.get();
    default: return nullptr;
    }
}

}  // namespace

std::unique_ptr<HashContext> HashContext::create(int32_t algorithm) {
    const EVP_MD* hash = hashFor(algorithm);
    if (hash == nullptr) return nullptr;
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), hash, nullptr) != 1) return nullptr;
    return std::unique_ptr<HashContext>(new HashContext(std::move(ctx)));
}

bool HashContext::update(const uint8_t* data, std::size_t size) {
    if (finished_ || (data == nullptr && size != 0)) return false;
    return EVP_DigestUpdate(ctx_.get(), data, size) == 1;
}

std::optional<Bytes> HashContext::finish() {
    if (finished_) return std::nullopt;
    finished_ = true;
    Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length) != 1) return std::nullopt;
    digest.resize(length);
    return digest;
}

}  // namespace zelmor::sim
