#include "SignatureBench.h"

#include <openssl/sha.h>

#include <vector>

namespace bench {

namespace {

// The signed message: 100 bytes, as a short document digest input would be.
std::vector<CK_BYTE> message()
{
    std::vector<CK_BYTE> data(100);
    for (size_t index = 0; index < data.size(); ++index) data[index] = static_cast<CK_BYTE>(index * 7 + 1);
    return data;
}

// How a signature with a hashing mechanism is asked for. A module without
// that mechanism (SoftHSM2 2.6 has no CKM_ECDSA_SHA256) gets what an
// application would then do: hash with libcrypto and use the raw mechanism.
struct SignatureMechanism {
    CK_MECHANISM_TYPE type;
    bool hashHere;                 // SHA-256 in this process, then `type` over the hash
    std::vector<CK_BYTE> prefix;   // put before the hash (the DigestInfo header for RSA)
};

// DER header of a SHA-256 DigestInfo; the 32 hash bytes follow.
const std::vector<CK_BYTE> sha256DigestInfo = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                               0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

// The bytes handed to C_Sign / C_Verify; `scratch` holds them when hashed here.
CK_BYTE* input(const SignatureMechanism& mechanism, std::vector<CK_BYTE>& data, std::vector<CK_BYTE>& scratch,
               CK_ULONG& length)
{
    if (!mechanism.hashHere) {
        length = data.size();
        return data.data();
    }
    scratch = mechanism.prefix;
    scratch.resize(mechanism.prefix.size() + SHA256_DIGEST_LENGTH);
    SHA256(data.data(), data.size(), scratch.data() + mechanism.prefix.size());
    length = scratch.size();
    return scratch.data();
}

// Init, length query, signature: the two-call form applications use.
void signTwoCall(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, const SignatureMechanism& how,
                 CK_OBJECT_HANDLE key, std::vector<CK_BYTE>& data, std::vector<CK_BYTE>& signature)
{
    CK_MECHANISM mechanism = {how.type, nullptr, 0};
    std::vector<CK_BYTE> scratch;
    CK_ULONG inputLength = 0;
    CK_BYTE* in = input(how, data, scratch, inputLength);
    check(p11->C_SignInit(session, &mechanism, key), "C_SignInit");
    CK_ULONG length = 0;
    check(p11->C_Sign(session, in, inputLength, nullptr, &length), "C_Sign (length)");
    signature.resize(length);
    check(p11->C_Sign(session, in, inputLength, signature.data(), &length), "C_Sign");
    signature.resize(length);
}

void verifyOnce(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, const SignatureMechanism& how,
                CK_OBJECT_HANDLE key, std::vector<CK_BYTE>& data, std::vector<CK_BYTE>& signature)
{
    CK_MECHANISM mechanism = {how.type, nullptr, 0};
    std::vector<CK_BYTE> scratch;
    CK_ULONG inputLength = 0;
    CK_BYTE* in = input(how, data, scratch, inputLength);
    check(p11->C_VerifyInit(session, &mechanism, key), "C_VerifyInit");
    check(p11->C_Verify(session, in, inputLength, signature.data(), signature.size()), "C_Verify");
}

bool supports(BenchContext& context, CK_MECHANISM_TYPE type, CK_FLAGS flags)
{
    CK_MECHANISM_INFO info;
    return context.p11()->C_GetMechanismInfo(context.slot, type, &info) == CKR_OK && (info.flags & flags) == flags;
}

void measurePair(BenchContext& context, const char* signName, const char* verifyName, CK_MECHANISM_TYPE hashing,
                 CK_MECHANISM_TYPE raw, const char* rawName, const std::vector<CK_BYTE>& rawPrefix,
                 const KeyPairHandles& key)
{
    CK_FUNCTION_LIST* p11 = context.p11();
    SignatureMechanism mechanism{hashing, false, {}};
    std::string note;
    if (!supports(context, hashing, CKF_SIGN | CKF_VERIFY)) {
        mechanism = {raw, true, rawPrefix};
        note = std::string("no hashing mechanism: SHA-256 by the application, then ") + rawName;
    }
    std::vector<std::vector<CK_BYTE>> data(context.sessions.size(), message());
    std::vector<std::vector<CK_BYTE>> signatures(context.sessions.size());

    for (unsigned threads : context.wants(signName) ? context.threadCounts : std::vector<unsigned>()) {
        Measurement measured = measureThroughput(threads, context.plan, [&](unsigned thread) {
            signTwoCall(p11, context.session(thread), mechanism, key.privateKey, data[thread], signatures[thread]);
        });
        context.sink.add(makeRow(context.name, signName, threads, measured, "ops/s", note));
    }

    // Every thread verifies a signature of its own session's making.
    for (unsigned thread = 0; thread < context.sessions.size(); ++thread) {
        signTwoCall(p11, context.session(thread), mechanism, key.privateKey, data[thread], signatures[thread]);
        verifyOnce(p11, context.session(thread), mechanism, key.publicKey, data[thread], signatures[thread]);
    }
    for (unsigned threads : context.wants(verifyName) ? context.threadCounts : std::vector<unsigned>()) {
        Measurement measured = measureThroughput(threads, context.plan, [&](unsigned thread) {
            verifyOnce(p11, context.session(thread), mechanism, key.publicKey, data[thread], signatures[thread]);
        });
        context.sink.add(makeRow(context.name, verifyName, threads, measured, "ops/s", note));
    }
}

} // namespace

void runSignatureBench(BenchContext& context)
{
    measurePair(context, op::rsaSign, op::rsaVerify, CKM_SHA256_RSA_PKCS, CKM_RSA_PKCS, "CKM_RSA_PKCS",
                sha256DigestInfo, context.keys.rsa);
    measurePair(context, op::ecSign, op::ecVerify, CKM_ECDSA_SHA256, CKM_ECDSA, "CKM_ECDSA", {}, context.keys.ec);
}

} // namespace bench
