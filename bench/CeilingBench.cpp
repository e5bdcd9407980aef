#include "CeilingBench.h"

#include "DigestBench.h"
#include "Pkcs11Module.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <memory>

namespace bench {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct DigestFree {
    void operator()(EVP_MD* digest) const { EVP_MD_free(digest); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, ContextFree>;

void expect(bool ok, const char* what)
{
    if (!ok) throw BenchError(std::string("libcrypto: ") + what + " failed");
}

// Per thread: its own copy of the key (no shared blinding or lock) and its
// own digest context, as each PKCS#11 session has its own.
struct ThreadState {
    Key key;
    DigestContext context{EVP_MD_CTX_new()};
    std::vector<unsigned char> signature;
};

std::vector<unsigned char> message()
{
    std::vector<unsigned char> data(100);
    for (size_t index = 0; index < data.size(); ++index) data[index] = static_cast<unsigned char>(index * 7 + 1);
    return data;
}

void measureKey(const std::string& name, const TimingPlan& plan, const std::vector<unsigned>& threadCounts,
                ResultSink& sink, EVP_PKEY* key, const EVP_MD* sha256, const char* signName, const char* verifyName)
{
    unsigned maxThreads = 1;
    for (unsigned threads : threadCounts) maxThreads = std::max(maxThreads, threads);
    std::vector<ThreadState> states(maxThreads);
    const std::vector<unsigned char> data = message();
    for (ThreadState& state : states) {
        state.key.reset(EVP_PKEY_dup(key));
        expect(state.key && state.context, "key copy");
    }

    auto sign = [&](unsigned thread) {
        ThreadState& state = states[thread];
        state.signature.resize(static_cast<size_t>(EVP_PKEY_get_size(state.key.get())));
        size_t length = state.signature.size();
        expect(EVP_DigestSignInit(state.context.get(), nullptr, sha256, nullptr, state.key.get()) == 1,
               "EVP_DigestSignInit");
        expect(EVP_DigestSign(state.context.get(), state.signature.data(), &length, data.data(), data.size()) == 1,
               "EVP_DigestSign");
        state.signature.resize(length);
    };
    auto verify = [&](unsigned thread) {
        ThreadState& state = states[thread];
        expect(EVP_DigestVerifyInit(state.context.get(), nullptr, sha256, nullptr, state.key.get()) == 1,
               "EVP_DigestVerifyInit");
        expect(EVP_DigestVerify(state.context.get(), state.signature.data(), state.signature.size(), data.data(),
                                data.size()) == 1,
               "EVP_DigestVerify");
    };

    for (unsigned threads : threadCounts) {
        sink.add(makeRow(name, signName, threads, measureThroughput(threads, plan, sign), "ops/s"));
    }
    for (unsigned thread = 0; thread < maxThreads; ++thread) sign(thread);
    for (unsigned threads : threadCounts) {
        sink.add(makeRow(name, verifyName, threads, measureThroughput(threads, plan, verify), "ops/s"));
    }
}

} // namespace

void runCeilingBench(const std::string& name, const TimingPlan& plan, const std::vector<unsigned>& threadCounts,
                     ResultSink& sink)
{
    std::unique_ptr<EVP_MD, DigestFree> sha256(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    expect(sha256 != nullptr, "SHA256 fetch");

    Key rsa(EVP_RSA_gen(2048));
    expect(rsa != nullptr, "RSA-2048 generation");
    measureKey(name, plan, threadCounts, sink, rsa.get(), sha256.get(), op::rsaSign, op::rsaVerify);

    Key ec(EVP_EC_gen("P-256"));
    expect(ec != nullptr, "P-256 generation");
    measureKey(name, plan, threadCounts, sink, ec.get(), sha256.get(), op::ecSign, op::ecVerify);

    std::vector<unsigned char> data(digestInputSize);
    for (size_t index = 0; index < data.size(); ++index) data[index] = static_cast<unsigned char>(index * 31 + 7);
    auto digest = [&](unsigned) {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        expect(EVP_Digest(data.data(), data.size(), out, &length, sha256.get(), nullptr) == 1, "EVP_Digest");
    };
    for (unsigned threads : threadCounts) {
        sink.add(makeRow(name, op::digest, threads, measureThroughput(threads, plan, digest), "ops/s",
                         "1 MiB per operation"));
    }
}

} // namespace bench
