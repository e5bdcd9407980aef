#include "DigestBench.h"

#include <vector>

namespace bench {

void runDigestBench(BenchContext& context)
{
    if (!context.wants(op::digest)) return;
    CK_FUNCTION_LIST* p11 = context.p11();
    std::vector<CK_BYTE> data(digestInputSize);
    for (size_t index = 0; index < data.size(); ++index) data[index] = static_cast<CK_BYTE>(index * 31 + 7);

    auto digestOnce = [&](unsigned thread) {
        CK_MECHANISM mechanism = {CKM_SHA256, nullptr, 0};
        CK_SESSION_HANDLE session = context.session(thread);
        check(p11->C_DigestInit(session, &mechanism), "C_DigestInit");
        CK_BYTE digest[64];
        CK_ULONG length = sizeof digest;
        check(p11->C_Digest(session, data.data(), data.size(), digest, &length), "C_Digest");
        if (length != 32) throw BenchError("C_Digest gave " + std::to_string(length) + " bytes for SHA-256");
    };
    for (unsigned threads : context.threadCounts) {
        Measurement measured = measureThroughput(threads, context.plan, digestOnce);
        context.sink.add(makeRow(context.name, op::digest, threads, measured, "ops/s", "1 MiB per operation"));
    }
}

} // namespace bench
