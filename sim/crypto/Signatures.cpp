#include "Signatures.h"

#include "KeyKind.h"


namespace zelmor::sim {

namespace {

// The hash a bare-hash RSA input stands for, by its length.
PreparedContexts::Variant variantForInput(std::size_t inputSize) {
    switch (inputSize) {
    case 20: return PreparedContexts::sha1;
    case 32: return PreparedContexts::sha256;
    case 48: return PreparedContexts::sha384;
    case 64: return PreparedContexts::sha512;
    default: return PreparedContexts::asIs;
    }
}

std::optional<Bytes> derToRawEcdsa(const uint8_t* der, std::size_t size, std::size_t fieldBytes) {
    const unsigned char* cursor = der;
    EcdsaSigPtr signature(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)));
    if (!signature) return std::nullopt;
    Bytes raw(2 * fieldBytes);
    const int width = static_cast<int>(fieldBytes);
    if (BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), raw.data(), width) != width ||
        BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), raw.data() + fieldBytes, width) != width)
        return std::nullopt;
    return raw;
}

std::optional<Bytes> rawEcdsaToDer(const uint8_t* raw, std::size_t size, std::size_t fieldBytes) {
    if (size != 2 * fieldBytes) return std::nullopt;
    const int width = static_cast<int>(fieldBytes);
    BignumPtr r(BN_bin2bn(raw, width, nullptr));
    BignumPtr s(BN_bin2bn(raw + fieldBytes, width, nullptr));
    EcdsaSigPtr signature(ECDSA_SIG_new());
    if (!r || !s || !signature || ECDSA_SIG_set0(signature.get(), r.get(), s.get()) != 1) return std::nullopt;
    r.release();  // owned by the signature now
    s.release();
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(signature.get(), &der);
    if (length <= 0) return std::nullopt;
    OpenSslMemory<unsigned char> owned(der);
    return Bytes(der, der + length);
}

}  // namespace

std::optional<Bytes> signInput(const PrivateKey& key, const uint8_t* input, std::size_t size) {
    const auto info = describeKeyKind(key.kind());
    if (!info || (input == nullptr && size != 0)) return std::nullopt;
    PreparedContexts::Lease ctx = key.signingContexts().acquire(info->isRsa ? variantForInput(size)
                                                                            : PreparedContexts::asIs);
    if (ctx.get() == nullptr) return std::nullopt;

    std::size_t length = static_cast<std::size_t>(EVP_PKEY_get_size(key.key()));
    Bytes signature(length);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &length, input, size) != 1) {
        ctx.discard();
        return std::nullopt;
    }
    signature.resize(length);
    if (info->isRsa) return signature;
    return derToRawEcdsa(signature.data(), signature.size(), info->fieldBytes);
}

bool verifyInput(const VerificationKey& key, const uint8_t* input, std::size_t size, const uint8_t* signature,
                 std::size_t signatureSize) {
    if (signature == nullptr || (input == nullptr && size != 0)) return false;
    const auto info = describeKeyKind(key.kind);
    const bool isRsa = !info || info->isRsa;
    std::optional<Bytes> der;
    if (!isRsa) {
        der = rawEcdsaToDer(signature, signatureSize, info->fieldBytes);
        if (!der) return false;
        signature = der->data();
        signatureSize = der->size();
    }
    PreparedContexts::Lease ctx = key.contexts.acquire(isRsa ? variantForInput(size) : PreparedContexts::asIs);
    if (ctx.get() == nullptr) return false;
    const bool valid = EVP_PKEY_verify(ctx.get(), signature, signatureSize, input, size) == 1;
    if (!valid) ctx.discard();  // a failed check may leave error state behind
    return valid;
}

}  // namespace zelmor::sim
