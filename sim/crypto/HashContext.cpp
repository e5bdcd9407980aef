#include "HashContext.h"

#include "ZelmorDSCLibrary.h"

namespace zelmor::sim {

namespace {
const EVP_MD* hashFor(int32_t algorithm) {
    switch (algorithm) {
    case hashSha1: return EVP_sha1();
    case hashSha256: return EVP_sha256();
    case hashSha384: return EVP_sha384();
    case hashSha512: return EVP_sha512();
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
