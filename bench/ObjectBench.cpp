#include "ObjectBench.h"

#include <vector>

namespace bench {

namespace {

// Empty template, C_FindObjects in batches of 64 until none come back.
size_t searchEverything(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, std::vector<CK_OBJECT_HANDLE>& found)
{
    check(p11->C_FindObjectsInit(session, nullptr, 0), "C_FindObjectsInit");
    found.clear();
    CK_OBJECT_HANDLE batch[64];
    for (;;) {
        CK_ULONG count = 0;
        check(p11->C_FindObjects(session, batch, 64, &count), "C_FindObjects");
        if (count == 0) break;
        found.insert(found.end(), batch, batch + count);
    }
    check(p11->C_FindObjectsFinal(session), "C_FindObjectsFinal");
    return found.size();
}

// Size query, then the values: how applications read variable-length attributes.
struct AttributeBuffers {
    std::vector<CK_BYTE> values[3];
};

void readLabelIdModulus(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                        AttributeBuffers& buffers)
{
    CK_ATTRIBUTE query[3] = {
        {CKA_LABEL, nullptr, 0},
        {CKA_ID, nullptr, 0},
        {CKA_MODULUS, nullptr, 0},
    };
    check(p11->C_GetAttributeValue(session, key, query, 3), "C_GetAttributeValue (lengths)");
    for (int index = 0; index < 3; ++index) {
        if (query[index].ulValueLen == CK_UNAVAILABLE_INFORMATION) throw BenchError("attribute not available");
        buffers.values[index].resize(query[index].ulValueLen);
        query[index].pValue = buffers.values[index].data();
    }
    check(p11->C_GetAttributeValue(session, key, query, 3), "C_GetAttributeValue");
    if (query[2].ulValueLen != 256) throw BenchError("modulus of " + std::to_string(query[2].ulValueLen) + " bytes");
}

} // namespace

void runObjectBench(BenchContext& context)
{
    CK_FUNCTION_LIST* p11 = context.p11();
    std::vector<std::vector<CK_OBJECT_HANDLE>> found(context.sessions.size());
    size_t objectCount = searchEverything(p11, context.session(0), found[0]);
    std::string note = std::to_string(objectCount) + " objects";
    for (unsigned threads : context.wants(op::search) ? context.threadCounts : std::vector<unsigned>()) {
        Measurement measured = measureThroughput(threads, context.plan, [&](unsigned thread) {
            if (searchEverything(p11, context.session(thread), found[thread]) != objectCount) {
                throw BenchError("the number of objects found changed");
            }
        });
        context.sink.add(makeRow(context.name, op::search, threads, measured, "ops/s", note));
    }

    std::vector<AttributeBuffers> buffers(context.sessions.size());
    for (unsigned threads : context.wants(op::attributes) ? context.threadCounts : std::vector<unsigned>()) {
        Measurement measured = measureThroughput(threads, context.plan, [&](unsigned thread) {
            readLabelIdModulus(p11, context.session(thread), context.keys.rsa.publicKey, buffers[thread]);
        });
        context.sink.add(
            makeRow(context.name, op::attributes, threads, measured, "ops/s", "RSA public key; size query + values"));
    }
}

} // namespace bench
