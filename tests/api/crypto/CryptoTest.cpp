// The cryptographic operations through the loaded module. The default device
// holds an RSA-2048 (number 0) and an EC P-256 (1) key pair; a read-write
// session is open and the user is logged in. The families are driven through
// one generic layer, so that the tables list them side by side.
#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "ModuleTest.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace testing_support;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr CK_OBJECT_HANDLE rsaKey = 0x70000000;
constexpr CK_OBJECT_HANDLE ecKey = 0x70000001;
constexpr CK_OBJECT_HANDLE rsaPublicKey = 0x70001000;
constexpr CK_OBJECT_HANDLE missingKey = 0x70000009;
// Key 0 with a bit above 32 (where CK_ULONG has 32 bits: key 0x100000, which does not exist).
constexpr CK_OBJECT_HANDLE wideKey =
    rsaKey | (sizeof(CK_ULONG) == 8 ? static_cast<CK_ULONG>(0x100000000ULL) : CK_ULONG(0x100000));
constexpr CK_MECHANISM_TYPE usual = 0;                   // the family's usual mechanism, see init
constexpr CK_MECHANISM_TYPE noMechanism = ~CK_ULONG(0);  // a null mechanism pointer

// The operation families; Find is a running search, Idle none, Public a
// read-only public session.
enum Op { Sign, Verify, Digest, Encrypt, Decrypt, Find, Idle, Public };
const char* const opNames[] = {"sign", "verify", "digest", "encrypt", "decrypt", "search", "idle", "public session"};

CK_BYTE_PTR ptr(Bytes& bytes) { return bytes.empty() ? nullptr : bytes.data(); }
CK_ULONG size(const Bytes& bytes) { return static_cast<CK_ULONG>(bytes.size()); }
Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

class CryptoTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "rsa", {0x01}));
        fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(1, keyKindEcP256, "ec", {0x02}));
        session = openSession();
        login(session);
        fakeLibrary().clearCalls();
        removeFile(todaysLogFile());
    }

    // C_SignInit ... C_DecryptInit, C_FindObjectsInit; the usual mechanisms
    // are CKM_SHA256_RSA_PKCS, CKM_SHA256 and CKM_RSA_PKCS.
    CK_RV init(Op op, CK_MECHANISM_TYPE type = usual, CK_OBJECT_HANDLE key = rsaKey, CK_ULONG parameterLength = 0) {
        static const CK_MECHANISM_TYPE usuals[] = {CKM_SHA256_RSA_PKCS, CKM_SHA256_RSA_PKCS, CKM_SHA256, CKM_RSA_PKCS,
                                                   CKM_RSA_PKCS};
        static CK_BYTE parameter[16];
        CK_MECHANISM mechanism{type == usual && op < Find ? usuals[op] : type, parameterLength ? parameter : nullptr,
                               parameterLength};
        CK_MECHANISM_PTR m = type == noMechanism ? nullptr : &mechanism;
        if (op == Digest) return f()->C_DigestInit(session, m);
        if (op == Find) return f()->C_FindObjectsInit(session, nullptr, 0);
        const CK_C_SignInit inits[] = {f()->C_SignInit, f()->C_VerifyInit, nullptr, f()->C_EncryptInit,
                                       f()->C_DecryptInit};
        return inits[op](session, m, key);
    }

    // C_Sign, C_Verify, C_Digest, C_Encrypt, C_Decrypt. For Verify, out and
    // *length are the signature and its length (no length: 0).
    CK_RV once(Op op, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR out, CK_ULONG_PTR length) {
        if (op == Verify) return f()->C_Verify(session, data, dataLength, out, length ? *length : 0);
        const CK_C_Sign calls[] = {f()->C_Sign, nullptr, f()->C_Digest, f()->C_Encrypt, f()->C_Decrypt};
        return calls[op](session, data, dataLength, out, length);
    }

    // The multi-part calls of Sign, Verify and Digest.
    CK_RV update(Op op, CK_BYTE_PTR part, CK_ULONG partLength) {
        return (op == Sign     ? f()->C_SignUpdate
                : op == Verify ? f()->C_VerifyUpdate
                               : f()->C_DigestUpdate)(session, part, partLength);
    }
    CK_RV finish(Op op, CK_BYTE_PTR out, CK_ULONG_PTR length) {
        if (op == Verify) return f()->C_VerifyFinal(session, out, length ? *length : 0);
        return (op == Sign ? f()->C_SignFinal : f()->C_DigestFinal)(session, out, length);
    }

    // An operation into a large buffer (Verify: a signature of 256 bytes 0x5C): in one call or, given
    // partLength, in parts of that length and the final call.
    Bytes run(Op op, Bytes data, std::size_t partLength = 0) {
        Bytes out(1024, 0x5C);
        CK_ULONG length = op == Verify ? 256 : 1024;
        for (std::size_t i = 0; partLength && i < data.size(); i += partLength)
            EXPECT_EQ(CKR_OK, update(op, ptr(data) + i, CK_ULONG(std::min(partLength, data.size() - i))));
        EXPECT_EQ(CKR_OK,
                  partLength ? finish(op, ptr(out), &length) : once(op, ptr(data), size(data), ptr(out), &length));
        out.resize(op == Verify ? 0 : length);
        return out;
    }

    // Leaves whatever operation is active, as a search does.
    void endOperation() {
        f()->C_FindObjectsInit(session, nullptr, 0);
        EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    }

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;  // the one the helpers use
};

TEST_F(CryptoTest, InitChecksInOrder) {
    // Key handles are 32-bit: a bit above them names nothing, whatever the bits below.
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, init(Sign, usual, wideKey));
    const struct {
        Op op, before;  // before: the operation started first, or the session used
        CK_MECHANISM_TYPE mechanism;
        CK_ULONG parameterLength;
        CK_OBJECT_HANDLE key;
        CK_RV expected;
        const char* logLine = nullptr;  // this line, or nothing about an invalid handle
    } cases[] = {
        {Sign, Sign, noMechanism, 0, 0, CKR_OPERATION_ACTIVE},
        {Sign, Idle, noMechanism, 0, 0, CKR_ARGUMENTS_BAD},
        {Sign, Idle, CKM_SHA256_RSA_PKCS_PSS, 4, 0, CKR_MECHANISM_INVALID},
        {Sign, Idle, usual, 4, 0, CKR_MECHANISM_PARAM_INVALID},
        {Sign, Idle, usual, 0, 0x6FFFFFFF, CKR_OBJECT_HANDLE_INVALID},
        {Sign, Idle, usual, 0, missingKey, CKR_OBJECT_HANDLE_INVALID, "Invalid input handle in sign : 1879048201"},
        {Verify, Find, noMechanism, 0, 0, CKR_OPERATION_ACTIVE},
        {Verify, Idle, noMechanism, 0, 0, CKR_ARGUMENTS_BAD},
        {Verify, Idle, usual, 0, 0x70001009, CKR_OBJECT_HANDLE_INVALID, "Invalid input handle in verify : 1879052297"},
        // The parameter is not examined; an active digest is replaced.
        {Verify, Idle, CKM_ECDSA, 8, ecKey, CKR_OK},
        {Verify, Digest, usual, 0, rsaKey, CKR_OK},
        {Digest, Sign, noMechanism, 0, 0, CKR_OPERATION_ACTIVE},
        {Digest, Idle, noMechanism, 0, 0, CKR_ARGUMENTS_BAD},
        {Digest, Idle, usual, 3, 0, CKR_OK},
        {Digest, Digest, usual, 0, 0, CKR_OK},  // started again: the first context is released
        {Encrypt, Sign, noMechanism, 0, 0, CKR_OPERATION_ACTIVE},
        {Encrypt, Idle, noMechanism, 0, 0, CKR_ARGUMENTS_BAD},
        {Encrypt, Idle, CKM_RSA_PKCS_OAEP, 8, 0, CKR_MECHANISM_INVALID},
        {Encrypt, Idle, usual, 8, 0, CKR_MECHANISM_PARAM_INVALID},
        {Encrypt, Digest, usual, 0, rsaKey, CKR_OK},
        {Decrypt, Verify, noMechanism, 0, 0, CKR_OPERATION_ACTIVE},
        // Signing and decryption look up number hKey - 0x70000000: a public-key handle names nothing.
        {Decrypt, Idle, usual, 0, rsaPublicKey, CKR_OBJECT_HANDLE_INVALID,
         "Invalid input handle in decrypt : 1879052288"},
        {Decrypt, Digest, usual, 0, rsaKey, CKR_OK},
        // The state comes before the arguments; its debug line is the only trace of that check.
        {Sign, Public, noMechanism, 0, 0, CKR_SESSION_HANDLE_INVALID, "Sign init session state invalid : 0"},
        {Digest, Public, noMechanism, 0, 0, CKR_SESSION_HANDLE_INVALID, "Digest init session state invalid : 0"},
        {Decrypt, Public, noMechanism, 0, 0, CKR_SESSION_HANDLE_INVALID, "Decrypt session state invalid : 0"},
        {Verify, Public, usual, 0, rsaKey, CKR_OK},
        {Encrypt, Public, usual, 0, rsaKey, CKR_OK},
    };
    const CK_SESSION_HANDLE readWrite = session;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << opNames[c.op] << " after " << opNames[c.before] << ", mechanism "
                                        << c.mechanism << ", key " << c.key);
        if (c.before == Public && session == readWrite) {
            ASSERT_EQ(CKR_OK, f()->C_Logout(session));
            session = openSession(false);
        }
        ASSERT_EQ(CKR_OK, c.before < Idle ? init(c.before) : CKR_OK);
        removeFile(todaysLogFile());
        EXPECT_EQ(c.expected, init(c.op, c.mechanism, c.key, c.parameterLength));
        const std::string wanted = c.logLine ? "::=>" + std::string(c.logLine) + "\n" : "Invalid input handle";
        EXPECT_EQ(c.logLine != nullptr, readFile(todaysLogFile()).find(wanted) != std::string::npos);
        endOperation();
    }
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(readWrite));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

// Before Init every data call is refused, after it argument errors and
// lengths beyond 32 bits; the device is not called, and the operation stays.
TEST_F(CryptoTest, ArgumentAndLengthErrorsKeepTheOperation) {
    CK_ULONG huge = sizeof(CK_ULONG) > 4 ? static_cast<CK_ULONG>(0xFFFFFFFFull) + 1 : 0;
    const char* devices[] = {"zelmor_signHash", "zelmor_verifySignatureHash", "zelmor_updateHash", "zelmor_encrypt",
                             "zelmor_decrypt"};
    Bytes data(4, 1), out(512);
    for (Op op : {Sign, Verify, Digest, Encrypt, Decrypt}) {
        SCOPED_TRACE(opNames[op]);
        CK_ULONG length = 512;
        fakeLibrary().clearCalls();
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, once(op, ptr(data), 4, ptr(out), &length));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, update(op, ptr(data), 4));  // of the digest for the ciphers
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, finish(op, ptr(out), &length));
        ASSERT_EQ(CKR_OK, init(op, op <= Verify ? CKM_ECDSA : usual));  // raw input: no length is hashed
        EXPECT_EQ(CKR_ARGUMENTS_BAD, once(op, nullptr, 4, ptr(out), &length));
        EXPECT_EQ(CKR_ARGUMENTS_BAD, once(op, ptr(data), 0, ptr(out), &length));
        EXPECT_EQ(CKR_ARGUMENTS_BAD, once(op, ptr(data), 4, ptr(out), nullptr));
        if (op == Verify) {  // the signature is input: it must be given
            EXPECT_EQ(CKR_ARGUMENTS_BAD, once(op, ptr(data), 4, nullptr, &length));
            EXPECT_EQ(CKR_ARGUMENTS_BAD, finish(op, nullptr, &length));
        }
        if (op <= Digest) {
            EXPECT_EQ(CKR_ARGUMENTS_BAD, update(op, nullptr, 4));
            EXPECT_EQ(CKR_ARGUMENTS_BAD, update(op, ptr(data), 0));
            EXPECT_EQ(CKR_ARGUMENTS_BAD, finish(op, ptr(out), nullptr));
        }
        const CK_RV tooLong = op == Decrypt ? CKR_ENCRYPTED_DATA_LEN_RANGE : CKR_DATA_LEN_RANGE;
        if (huge != 0 && op != Digest) EXPECT_EQ(tooLong, once(op, ptr(data), huge, ptr(out), &length));
        if (huge != 0 && op == Verify) {
            EXPECT_EQ(CKR_SIGNATURE_LEN_RANGE, once(op, ptr(data), 4, ptr(out), &huge));
            EXPECT_EQ(CKR_SIGNATURE_LEN_RANGE, finish(op, ptr(out), &huge));
        }
        // Raw parts are joined for one device call with a 32-bit length.
        if (huge != 0 && op == Sign) {
            ASSERT_EQ(CKR_OK, update(op, ptr(data), 4));
            EXPECT_EQ(CKR_DATA_LEN_RANGE, update(op, ptr(data), static_cast<CK_ULONG>(0xFFFFFFFFull - 3)));
        }
        EXPECT_EQ(0u, fakeLibrary().callCount(devices[op]) + fakeLibrary().callCount("zelmor_finalHash"));
        EXPECT_EQ(CKR_OK, once(op, ptr(data), 4, ptr(out), &length));
    }
}

// A failed decryption or digest step keeps its operation, every other
// failure ends it; no hash context is left behind. A one-call signature whose
// hashing fails names the failing step in the log.
TEST_F(CryptoTest, DeviceFailures) {
    // The library hands out a plaintext buffer even though it fails: it must still be freed.
    fakeLibrary().edit([](FakeState& state) { state.decryptAllocatesOnFailure = true; });
    const struct {
        Op op;
        const char* failing;
        bool parts;                  // C_xUpdate, then C_xFinal
        CK_RV expected, afterwards;  // afterwards: of C_x once the device works again
        const char* logLine = nullptr;
    } cases[] = {
        {Sign, "zelmor_initHash", false, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED, "init hash failed -7"},
        {Sign, "zelmor_updateHash", false, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED, "update hash failed -7"},
        {Sign, "zelmor_finalHash", false, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED, "final hash failed -7"},
        {Sign, "zelmor_signHash", false, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},
        {Sign, "zelmor_initHash", true, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},
        {Sign, "zelmor_updateHash", true, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},
        {Sign, "zelmor_finalHash", true, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},
        {Sign, "zelmor_signHash", true, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},
        {Verify, "zelmor_updateHash", false, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},
        {Verify, "zelmor_finalHash", true, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},
        {Verify, "zelmor_verifySignatureHash", true, CKR_SIGNATURE_INVALID, CKR_OPERATION_NOT_INITIALIZED},
        {Digest, "zelmor_initHash", false, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},  // at C_DigestInit
        {Digest, "zelmor_updateHash", false, CKR_FUNCTION_FAILED, CKR_OK},
        {Digest, "zelmor_updateHash", true, CKR_FUNCTION_FAILED, CKR_OK},
        {Digest, "zelmor_finalHash", true, CKR_FUNCTION_FAILED, CKR_FUNCTION_FAILED},  // the context is gone
        {Encrypt, "zelmor_encrypt", false, CKR_FUNCTION_FAILED, CKR_OPERATION_NOT_INITIALIZED},
        {Decrypt, "zelmor_decrypt", false, CKR_FUNCTION_FAILED, CKR_OK},
    };
    Bytes data = bytesOf("data"), out(512);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << opNames[c.op] << ", " << c.failing
                                        << (c.parts ? " in parts" : " in one call"));
        CK_ULONG length = 512;
        fakeLibrary().setResult(c.failing, -7);
        removeFile(todaysLogFile());
        CK_RV rv = init(c.op);
        if (rv == CKR_OK && c.parts) rv = update(c.op, ptr(data), 4);
        if (rv == CKR_OK) rv = c.parts ? finish(c.op, ptr(out), &length) : once(c.op, ptr(data), 4, ptr(out), &length);
        EXPECT_EQ(c.expected, rv);
        if (c.logLine)
            EXPECT_NE(std::string::npos, readFile(todaysLogFile()).find("::=>" + std::string(c.logLine) + "\n"));
        fakeLibrary().edit([](FakeState& state) { state.forcedResults.clear(); });
        EXPECT_EQ(c.afterwards, once(c.op, ptr(data), 4, ptr(out), &length));
        EXPECT_EQ(0, fakeLibrary().liveHashContexts());
        endOperation();
    }
}

// A length the library reports beyond the buffer it was offered is cut to that
// buffer, so the module never reads past it: the result's length, or the
// length of the hash handed on to signing.
TEST_F(CryptoTest, ReportedLengthsBeyondTheBufferAreCutToIt) {
    const struct {
        const char* name;
        Op op;
        const char* misreporting;
        const char* measured;  // the device operation whose input is measured; none: the result
        std::size_t expected;
    } rows[] = {
        {"signature", Sign, "zelmor_signHash", nullptr, 1024},
        {"digest", Digest, "zelmor_finalHash", nullptr, 128},
        {"ciphertext", Encrypt, "zelmor_encrypt", nullptr, 1024},
        {"hash to sign", Sign, "zelmor_finalHash", "zelmor_signHash", 64},
    };
    for (const auto& row : rows) {
        fakeLibrary().edit([&](FakeState& state) { state.reportedLengths = {{row.misreporting, 4096}}; });
        ASSERT_EQ(CKR_OK, init(row.op)) << row.name;
        const std::size_t result = run(row.op, bytesOf("data")).size();
        EXPECT_EQ(row.expected, row.measured ? fakeLibrary().calls(row.measured).back().data.size() : result)
            << row.name;
    }
    // A plaintext length with no buffer is a library fault, not an empty plaintext.
    fakeLibrary().edit([](FakeState& state) { state.reportedLengths = {{"zelmor_decrypt", 16}}; });
    ASSERT_EQ(CKR_OK, init(Decrypt));
    Bytes data = bytesOf("data"), out(64);
    CK_ULONG length = size(out);
    EXPECT_EQ(CKR_FUNCTION_FAILED, once(Decrypt, ptr(data), size(data), ptr(out), &length));
}

#if defined(__GLIBC__)
// The plaintext buffer the library allocates is released after every
// decryption, a failed one included: eight of 1 MiB each would stay on the
// heap otherwise (the session keeps at most one plaintext).
TEST_F(CryptoTest, TheLibrarysPlaintextBufferIsReleased) {
    const auto heapInUse = [] {
        const struct mallinfo2 heap = mallinfo2();
        return heap.uordblks + heap.hblkhd;
    };
    constexpr std::size_t mebibyte = 1 << 20;
    fakeLibrary().setOutput("zelmor_decrypt", Bytes(mebibyte, 0x11));
    fakeLibrary().edit([](FakeState& state) { state.decryptAllocatesOnFailure = true; });
    const struct {
        const char* name;
        int32_t result;
        CK_RV expected;
    } rows[] = {{"decrypted", 0, CKR_OK}, {"failed", -7, CKR_FUNCTION_FAILED}};
    Bytes data = bytesOf("data"), out(mebibyte);
    for (const auto& row : rows) {
        fakeLibrary().setResult("zelmor_decrypt", row.result);
        const std::size_t before = heapInUse();
        for (int i = 0; i < 8; ++i) {
            init(Decrypt);
            CK_ULONG length = size(out);
            EXPECT_EQ(row.expected, once(Decrypt, ptr(data), size(data), ptr(out), &length)) << row.name;
            endOperation();
        }
        EXPECT_LT(heapInUse(), before + 3 * mebibyte) << row.name;
    }
}
#endif

// Signing logs, at debug level, what it hands to the device: whether a
// password goes with it, the input's length and the session state, then the
// input in upper-case hex. It does not check the login: without one the
// device gets the empty password and decides.
TEST_F(CryptoTest, WhatSigningHandsToTheDevice) {
    ASSERT_EQ(CKR_OK, init(Sign, CKM_RSA_PKCS));
    run(Sign, Bytes{0x0A, 0xFF});
    const std::regex lines("::=>Sign: password empty=0 hashLen=2 session state=3\n[^\n]*::=>Sign input hash : 0AFF\n");
    EXPECT_TRUE(std::regex_search(readFile(todaysLogFile()), lines)) << readFile(todaysLogFile());
    ASSERT_EQ(CKR_OK, f()->C_Logout(session));
    ASSERT_EQ(CKR_OK, init(Sign));
    run(Sign, bytesOf("data"));
    EXPECT_EQ("", fakeLibrary().calls("zelmor_signHash").at(1).password);
}

// A read-only session of the logged-in user runs every operation.
TEST_F(CryptoTest, ReadOnlyUserSessionsRunOperations) {
    session = openSession(false);
    ASSERT_EQ(CKS_RO_USER_FUNCTIONS, sessionState(session));
    for (Op op : {Sign, Verify, Digest, Encrypt, Decrypt}) {
        EXPECT_EQ(CKR_OK, init(op)) << opNames[op];
        endOperation();
    }
}

// Every call reports the result's length; the query costs the only device
// call, a buffer one byte short receives nothing, and the fetch ends the
// operation. The data of the later calls is not used, but must be given.
TEST_F(CryptoTest, TwoCallOutput) {
    const struct {
        Op op;
        bool parts;
        const char* deviceOperation;
        Bytes output;
    } cases[] = {
        {Sign, false, "zelmor_signHash", Bytes(256, 0x5C)},
        {Sign, true, "zelmor_signHash", Bytes(256, 0x5D)},
        {Digest, false, "zelmor_finalHash", Bytes(20, 0xD1)},
        {Digest, true, "zelmor_finalHash", Bytes(20, 0xD2)},
        {Encrypt, false, "zelmor_encrypt", Bytes(256, 0xC7)},  // with a public-key handle
        {Decrypt, false, "zelmor_decrypt", bytesOf("plaintext")},
        {Decrypt, false, "zelmor_decrypt", bytesOf("p")},
        // An empty plaintext is a result too, not a sign that none was computed.
        {Decrypt, false, "zelmor_decrypt", Bytes()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << opNames[c.op] << (c.parts ? " in parts, " : " in one call, ")
                                        << c.output.size() << " bytes");
        fakeLibrary().setOutput(c.deviceOperation, c.output);
        ASSERT_EQ(CKR_OK, init(c.op, usual, c.op == Encrypt ? rsaPublicKey : rsaKey));
        Bytes message = bytesOf("message"), out(c.output.size() + 1, 0xEE);
        ASSERT_EQ(CKR_OK, c.parts ? update(c.op, ptr(message), size(message)) : CKR_OK);
        auto call = [&](CK_BYTE_PTR buffer, CK_ULONG length) {
            CK_RV rv =
                c.parts ? finish(c.op, buffer, &length) : once(c.op, ptr(message), size(message), buffer, &length);
            EXPECT_EQ(c.output.size(), length);
            return rv;
        };
        fakeLibrary().clearCalls();
        ASSERT_EQ(CKR_OK, call(nullptr, 0));
        if (!c.output.empty()) EXPECT_EQ(CKR_BUFFER_TOO_SMALL, call(ptr(out), size(c.output) - 1));
        EXPECT_EQ(Bytes(out.size(), 0xEE), out);
        ASSERT_EQ(CKR_OK, call(ptr(out), size(out)));
        EXPECT_EQ(c.output, Bytes(out.begin(), out.end() - 1));
        EXPECT_EQ(1u, fakeLibrary().callCount(c.deviceOperation));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, call(nullptr, size(c.output)));
    }
}

// One call and three parts give the device the same input: the data itself,
// or its hash through one context per operation. Each Init refuses the
// mechanisms of the other kind.
TEST_F(CryptoTest, MechanismsHashWithTheirAlgorithmOrPassTheDataUnchanged) {
    const struct {
        CK_MECHANISM_TYPE mechanism;
        int32_t hashAlgorithm;  // 0: the data goes to the device unchanged
        bool digest;            // a digest mechanism, not a signing one
    } cases[] = {
        {CKM_RSA_PKCS, 0, false},        {CKM_SHA1_RSA_PKCS, 2, false},   {CKM_SHA256_RSA_PKCS, 3, false},
        {CKM_SHA384_RSA_PKCS, 4, false}, {CKM_SHA512_RSA_PKCS, 5, false}, {CKM_ECDSA, 0, false},
        {CKM_ECDSA_SHA1, 2, false},      {CKM_ECDSA_SHA256, 3, false},    {CKM_ECDSA_SHA384, 4, false},
        {CKM_SHA_1, 2, true},            {CKM_SHA256, 3, true},           {CKM_SHA384, 4, true},
        {CKM_SHA512, 5, true},
    };
    Bytes data = bytesOf("the data to be signed"), hash(48, 0xA5);  // three parts of 7 bytes
    fakeLibrary().setOutput("zelmor_finalHash", hash);
    for (const auto& c : cases) {
        for (Op op : {Sign, Verify, Digest}) {
            SCOPED_TRACE(testing::Message() << "mechanism " << c.mechanism << ", " << opNames[op]);
            fakeLibrary().clearCalls();
            const CK_RV rv = init(op, c.mechanism);
            EXPECT_EQ((op == Digest) == c.digest ? CKR_OK : CKR_MECHANISM_INVALID, rv);
            if (rv != CKR_OK) continue;
            const Bytes single = run(op, data);
            ASSERT_EQ(CKR_OK, init(op, c.mechanism));
            const Bytes parts = run(op, data, 7);
            if (op == Digest) {
                EXPECT_EQ(hash, single);
                EXPECT_EQ(hash, parts);
            }
            const char* device = op == Sign ? "zelmor_signHash" : "zelmor_verifySignatureHash";
            EXPECT_EQ(op == Digest ? 0u : 2u, fakeLibrary().callCount(device));
            for (const FakeCall& call : fakeLibrary().calls(device))
                EXPECT_EQ(c.hashAlgorithm ? hash : data, call.data);
            EXPECT_EQ(c.hashAlgorithm ? 2u : 0u, fakeLibrary().callCount("zelmor_initHash"));
            for (const FakeCall& call : fakeLibrary().calls("zelmor_initHash")) {
                EXPECT_EQ(c.hashAlgorithm, call.hashAlgorithm);
                EXPECT_EQ(defaultDevice, call.deviceName);
            }
            // Signing offers 64 bytes for the hash; for a digest the length is output only.
            for (const FakeCall& call : fakeLibrary().calls("zelmor_finalHash")) {
                EXPECT_EQ(data, call.hashed);
                EXPECT_EQ(op == Digest ? 0 : 64, call.outputLength);
            }
        }
    }
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

// Every family, multi-part signing and verification too, uses the key pair copied at Init,
// even when the device's list changes before the data call. The public
// value's length comes from the device: it is clamped to 0..1024. Encryption types by key kind: 1 to 4 give
// 7 to 10, the others 8 (key pairs 21 to 29 are of kinds 1, 3, 4, 5 and 9).
TEST_F(CryptoTest, DeviceCallsCarryTheKeyPairCopiedAtInit) {
    fakeLibrary().edit([](FakeState& state) {
        state.devices[defaultDevice].keyPairs[0].publicValueLength = 5000;
        state.devices[defaultDevice].keyPairs[1].publicValueLength = -3;
    });
    for (uint32_t kind : {1, 3, 4, 5, 9})
        fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(20 + kind, kind, "", {}));
    const struct {
        Op op;
        CK_OBJECT_HANDLE key;
        std::size_t partLength = 0;  // multi-part: the input in one part
    } uses[] = {{Sign, rsaKey},         {Decrypt, rsaKey},      {Verify, rsaPublicKey}, {Verify, ecKey},
                {Encrypt, rsaKey + 21}, {Encrypt, rsaKey + 23}, {Encrypt, rsaKey + 24}, {Encrypt, rsaKey + 25},
                {Encrypt, rsaKey + 29}, {Sign, rsaKey, 5},      {Verify, rsaPublicKey, 5}};
    std::vector<CK_SESSION_HANDLE> sessions;
    for (const auto& use : uses) {
        sessions.push_back(session = openSession());
        ASSERT_EQ(CKR_OK, init(use.op, CKM_RSA_PKCS, use.key));
    }
    fakeLibrary().edit([](FakeState& state) { state.devices[defaultDevice].keyPairs.clear(); });
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        session = sessions[i];
        run(uses[i].op, bytesOf("input"), uses[i].partLength);
    }
    std::vector<int64_t> types;
    for (const FakeCall& call : fakeLibrary().calls("zelmor_encrypt")) types.push_back(call.encryptionType);
    EXPECT_EQ((std::vector<int64_t>{7, 9, 10, 8, 8}), types);
    EXPECT_EQ(paddingPkcs1, fakeLibrary().calls("zelmor_encrypt").at(0).paddingMode);
    // Encryption hands over the public value as a SubjectPublicKeyInfo, which
    // ends with the modulus (after a zero sign byte) and the exponent 65537.
    const ZelmorKeyPair rsa1024 = makeFakeKeyPair(21, 1, "", {});
    Bytes spkiEnd{0x00};
    spkiEnd.insert(spkiEnd.end(), rsa1024.publicValue, rsa1024.publicValue + 128);
    spkiEnd.insert(spkiEnd.end(), {0x02, 0x03, 0x01, 0x00, 0x01});
    const Bytes sent = fakeLibrary().calls("zelmor_encrypt").at(0).publicKey;
    EXPECT_EQ(spkiEnd, Bytes(sent.end() - std::min(sent.size(), spkiEnd.size()), sent.end()));
    const ZelmorKeyPair keyPair = makeFakeKeyPair(0, keyKindRsa2048, "", {});
    const std::vector<FakeCall> signs = fakeLibrary().calls("zelmor_signHash"),
                                verifies = fakeLibrary().calls("zelmor_verifySignatureHash");
    const FakeCall decrypt = fakeLibrary().calls("zelmor_decrypt").at(0);
    const struct {
        const char* name;
        FakeCall call;
        bool privateKey;  // signing and decryption name the key; verification hands over the public value
    } calls[] = {{"sign", signs.at(0), true}, {"multi-part sign", signs.at(1), true}, {"decrypt", decrypt, true},
                 {"verify", verifies.at(0), false}, {"multi-part verify", verifies.at(2), false}};
    for (const auto& c : calls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(defaultDevice, c.call.deviceName);
        EXPECT_EQ(bytesOf("input"), c.call.data);
        if (c.privateKey) {
            EXPECT_EQ(defaultPin, c.call.password);
            EXPECT_EQ(Bytes(keyPair.identifier, keyPair.identifier + zelmorIdentifierSize), c.call.identifier);
        } else {
            EXPECT_EQ(keyKindRsa2048, c.call.keyKind);
            EXPECT_EQ(Bytes(keyPair.publicValue, keyPair.publicValue + 1024), c.call.publicKey);
        }
    }
    EXPECT_EQ(1024, signs.at(0).outputLength);
    EXPECT_FALSE(signs.at(0).signFlag);
    EXPECT_TRUE(decrypt.keyFlag);  // the fake's key flag byte is 1
    EXPECT_EQ(Bytes(256, 0x5C), verifies.at(0).signature);
    EXPECT_TRUE(verifies.at(1).publicKey.empty());
}

// An encryption or decryption Init with a digest active enters a combined
// state in which nothing proceeds until a search starts; the next Init then
// hands back the digest's context.
TEST_F(CryptoTest, CombinedStatesLetNothingProceedUntilASearchStarts) {
    for (Op cipher : {Encrypt, Decrypt}) {
        ASSERT_EQ(CKR_OK, init(Digest));
        ASSERT_EQ(CKR_OK, init(cipher));
        for (Op op : {Sign, Verify, Digest, Encrypt, Decrypt}) {
            EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, once(op, nullptr, 0, nullptr, nullptr)) << op;
            EXPECT_EQ(CKR_OPERATION_ACTIVE, init(op)) << cipher << op;
        }
        endOperation();
    }
    EXPECT_EQ(CKR_OK, init(Sign));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

// No session state, login or active operation matters, and the operation goes on.
TEST_F(CryptoTest, RandomNumbers) {
    Bytes random(40, 0);
    ASSERT_EQ(CKR_OK, init(Sign));
    ASSERT_EQ(CKR_OK, f()->C_GenerateRandom(session, ptr(random), 8));
    run(Sign, bytesOf("data"));  // the operation goes on
    ASSERT_EQ(CKR_OK, f()->C_Logout(session));
    fakeLibrary().clearCalls();
    ASSERT_EQ(CKR_OK, f()->C_GenerateRandom(openSession(false), ptr(random), 40));
    const FakeCall c = fakeLibrary().calls("zelmor_generateRamdomNumber").at(0);
    // Called with true and without the instance handle; the fake's bytes (0x5A ^ i) go straight to the caller.
    EXPECT_EQ(defaultDevice, c.deviceName);
    EXPECT_EQ(40, c.length);
    EXPECT_TRUE(c.randomFlag);
    EXPECT_EQ(nullptr, c.instance);
    EXPECT_EQ(0x5B, random[1]);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateRandom(session, ptr(random), 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateRandom(session, nullptr, 8));
    fakeLibrary().setResult("zelmor_generateRamdomNumber", -2);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_GenerateRandom(session, ptr(random), 8));
}

// However an operation ends, by its one-call form, replaced by a search (a
// digest also by C_VerifyInit), or with its session (closed, or all closed by
// C_CloseAllSessions or C_Finalize), it leaves no hash context open in the
// device library.
TEST_F(CryptoTest, AnEndedOperationLeavesNoHashContextOpen) {
    Bytes part = bytesOf("part");
    const struct {
        const char* name;
        Op op;  // started and fed one part
        std::function<void()> end;
    } rows[] = {
        {"signature replaced by a search", Sign, [&] { EXPECT_EQ(CKR_OK, init(Find)); }},
        {"verification replaced by a search", Verify, [&] { EXPECT_EQ(CKR_OK, init(Find)); }},
        {"digest replaced by a search", Digest, [&] { EXPECT_EQ(CKR_OK, init(Find)); }},
        {"digest replaced by C_VerifyInit", Digest, [&] { EXPECT_EQ(CKR_OK, init(Verify)); }},
        {"signature ended by C_Sign", Sign, [&] { run(Sign, part); }},
        {"verification ended by C_Verify", Verify, [&] { run(Verify, part); }},
        {"digest's session closed", Digest, [&] { EXPECT_EQ(CKR_OK, f()->C_CloseSession(session)); }},
        {"digest's sessions all closed", Digest, [&] { EXPECT_EQ(CKR_OK, f()->C_CloseAllSessions(firstSlot)); }},
        {"module finalised during a digest", Digest, [&] { EXPECT_EQ(CKR_OK, f()->C_Finalize(nullptr)); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ensureInitialised();
        refreshSlots();
        session = openSession();
        ASSERT_EQ(CKR_OK, init(row.op));
        ASSERT_EQ(CKR_OK, update(row.op, ptr(part), size(part)));
        row.end();
        EXPECT_EQ(0, fakeLibrary().liveHashContexts());
    }
    ensureInitialised();
}

}  // namespace
