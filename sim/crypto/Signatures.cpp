#include "Signatures.h"

#include "KeyKind.h"

#include <openssl/rsa.h>

namespace zelmor::sim {

namespace {

// The hash a bare-hash input stands for, by its length.
const EVP_MD* hashForInputLength(std::size_t size) {
    switch (size) {
    case 20: return EVP_sha1();
    case 32: return EVP_sha256();
    case 48: return EVP_sha384();
    case 64: return EVP_sha512();
    default: return nullptr;
    }
}

SigningContexts::Variant signingVariantFor(std::size_t inputSize) {
    switch (inputSize) {
    case 20: return SigningContexts::sha1;
    case 32: return SigningContexts::sha256;
    case 48: return SigningContexts::sha384;
    case 64: return SigningContexts::sha512;
    default: return SigningContexts::asIs;
    }
}

bool prepareRsa(EVP_PKEY_CTX* ctx, std::size_t inputSize) {
    if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) != 1) return false;
    const EVP_MD* hash = hashForInputLength(inputSize);
    return hash == nullptr || EVP_PKEY_CTX_set_signature_md(ctx, hash) == 1;
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
    SigningContexts::Lease ctx = key.signingContexts().acquire(info->isRsa ? signingVariantFor(size)
                                                                            : SigningContexts::asIs);
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

bool verifyInput(EVP_PKEY* publicKey, uint32_t kind, const uint8_t* input, std::size_t size, const uint8_t* signature,
                 std::size_t signatureSize) {
    if (publicKey == nullptr || signature == nullptr || (input == nullptr && size != 0)) return false;
    const auto info = describeKeyKind(kind);
    const bool isRsa = !info || info->isRsa;
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, publicKey, nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1) return false;
    if (isRsa) {
        if (!prepareRsa(ctx.get(), size)) return false;
        return EVP_PKEY_verify(ctx.get(), signature, signatureSize, input, size) == 1;
    }
    const auto der = rawEcdsaToDer(signature, signatureSize, info->fieldBytes);
    return der && EVP_PKEY_verify(ctx.get(), der->data(), der->size(), input, size) == 1;
}

}  // namespace zelmor::sim
