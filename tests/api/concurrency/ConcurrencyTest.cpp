// Calls racing each other: a call held inside the device library while
// another thread works on its session, and simultaneous C_Initialize or
// C_Finalize calls. Also run under ThreadSanitizer.
#include <atomic>
#include <chrono>
#include <functional>
#include <future>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

CK_MECHANISM rsaPkcs{CKM_RSA_PKCS, nullptr, 0}, sha256Rsa{CKM_SHA256_RSA_PKCS, nullptr, 0};
CK_MECHANISM sha256{CKM_SHA256, nullptr, 0};
constexpr CK_OBJECT_HANDLE key = 0x70000000;
CK_BYTE data[16] = {1, 2, 3};
CK_UTF8CHAR pin[] = "12345678";
CK_OBJECT_HANDLE found[4];
CK_ULONG count;

using S = CK_SESSION_HANDLE;

CK_RV lengthQuery(CK_RV (*function)(S, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR), S session) {
    CK_ULONG length = 0;
    return function(session, data, sizeof data, nullptr, &length);
}
CK_RV signQuery(S session) { return lengthQuery(p11()->C_Sign, session); }
CK_RV digestQuery(S session) { return lengthQuery(p11()->C_Digest, session); }
void signInit(S session) { ASSERT_EQ(CKR_OK, p11()->C_SignInit(session, &sha256Rsa, key)); }
void digestInit(S session) { ASSERT_EQ(CKR_OK, p11()->C_DigestInit(session, &sha256)); }

// Runs `call` while, the first time the device library is inside
// `operation`, `meanwhile` runs on another thread; the library call waits for
// it (a module holding a lock there would block it for good). Returns the
// result of `call`.
CK_RV whileHeldIn(const char* operation, const std::function<CK_RV()>& call, const std::function<void()>& meanwhile) {
    std::future<void> other;
    std::atomic<bool> fired{false};
    fakeLibrary().edit([&](FakeState& state) {
        state.duringCall[operation] = [&] {
            if (fired.exchange(true)) return;  // calls made meanwhile pass
            other = std::async(std::launch::async, meanwhile);
            EXPECT_EQ(std::future_status::ready, other.wait_for(std::chrono::seconds(10)));
        };
    });
    const CK_RV rv = call();
    fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });
    EXPECT_TRUE(fired);
    if (other.valid()) other.get();
    return rv;
}

class ConcurrencyTest : public ModuleTest {};

}  // namespace

// The held call's session is closed and a new one opened, which gets the same
// handle: the held call must not finish its work in the new session. While
// the held signature waits, the new session signs too: no module lock is held
// across signing.
TEST_F(ConcurrencyTest, HeldCallsDoNotReachANewSessionUnderTheirHandle) {
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "k", {}));
    const struct {
        const char* name;
        const char* heldIn;
        void (*prepare)(S);  // on the old session, before
        CK_RV (*call)(S);
        void (*startNew)(S);  // on the new session, while the call is held
        CK_RV (*follow)(S);   // on the new session, after (if any): its result, and the calls of `counted` in all
        CK_RV followResult;
        const char* counted;
        std::size_t calls;
    } rows[] = {
        {"signature", "zelmor_signHash", signInit, signQuery,
         [](S s) { signInit(s); EXPECT_EQ(CKR_OK, signQuery(s)); }, nullptr, 0, "zelmor_signHash", 2},
        {"sign init", "zelmor_getKeyPairList", nullptr, [](S s) { return p11()->C_SignInit(s, &rsaPkcs, key); },
         nullptr, signQuery, CKR_OPERATION_NOT_INITIALIZED, "zelmor_signHash", 0},
        {"digest", "zelmor_updateHash", digestInit, digestQuery, digestInit, digestQuery, CKR_OK, "zelmor_finalHash",
         2},
        {"search", "zelmor_getKeyPairList", nullptr, [](S s) { return p11()->C_FindObjectsInit(s, nullptr, 0); },
         nullptr,
         [](S s) { return p11()->C_FindObjects(s, found, 4, &count); }, CKR_OPERATION_NOT_INITIALIZED,
         "zelmor_getKeyPairList", 2},
        {"login", "zelmor_validatePassword", nullptr, [](S s) { return p11()->C_Login(s, CKU_USER, pin, 8); }, nullptr,
         [](S s) { return sessionState(s); }, CKS_RW_PUBLIC_SESSION, "zelmor_validatePassword", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(CKR_OK, f()->C_CloseAllSessions(firstSlot));
        const CK_SESSION_HANDLE held = openSession();
        if (row.prepare) row.prepare(held);
        fakeLibrary().clearCalls();
        CK_SESSION_HANDLE replacement = CK_INVALID_HANDLE;
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, whileHeldIn(row.heldIn, [&] { return row.call(held); }, [&] {
            ASSERT_EQ(CKR_OK, f()->C_CloseSession(held));
            replacement = openSession();
            if (row.startNew) row.startNew(replacement);
        }));
        ASSERT_EQ(held, replacement);
        if (row.follow) {
            EXPECT_EQ(row.followResult, row.follow(replacement));
        }
        EXPECT_EQ(row.calls, fakeLibrary().callCount(row.counted));
        EXPECT_EQ(0, fakeLibrary().liveHashContexts());
    }
}

// A second C_Initialize or C_Finalize while the first is inside the device
// library waits for it, and is told it is done: one caller does the work.
TEST_F(ConcurrencyTest, SimultaneousInitializeOrFinalizeLeavesOneWinner) {
    const struct {
        CK_RV (*call)(CK_VOID_PTR);
        const char* operation;
        CK_RV second;
    } rows[] = {{f()->C_Initialize, "zelmor_createInstance", CKR_CRYPTOKI_ALREADY_INITIALIZED},
                {f()->C_Finalize, "zelmor_releaseInstance", CKR_CRYPTOKI_NOT_INITIALIZED}};
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    for (const auto& row : {rows[0], rows[1], rows[0], rows[1], rows[0], rows[1]}) {
        SCOPED_TRACE(row.operation);
        fakeLibrary().clearCalls();
        std::future<CK_RV> second;
        EXPECT_EQ(CKR_OK, whileHeldIn(row.operation, [&] { return row.call(nullptr); }, [&] {
            second = std::async(std::launch::async, row.call, nullptr);
            second.wait_for(std::chrono::milliseconds(100));
        }));
        EXPECT_EQ(row.second, second.get());
        EXPECT_EQ(1u, fakeLibrary().callCount(row.operation));
    }
}

// A call working on the session's hash context has it alone: other calls of
// the digest or the multi-part signature meanwhile are refused, and the held
// call's data is not lost.
TEST_F(ConcurrencyTest, ACallWorkingOnTheHashContextHasItAlone) {
    const struct {
        const char* name;
        void (*start)(S);
        CK_RV (*update)(S, CK_BYTE_PTR, CK_ULONG);
        CK_RV (*finish)(S, CK_BYTE_PTR, CK_ULONG_PTR);
        CK_RV (*restart)(S);
    } families[] = {
        {"digest", digestInit, f()->C_DigestUpdate, f()->C_DigestFinal,
         [](S s) { return p11()->C_DigestInit(s, &sha256); }},
        {"signature", signInit, f()->C_SignUpdate, f()->C_SignFinal,
         [](S s) { return p11()->C_SignInit(s, &sha256Rsa, key); }},
    };
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "k", {}));
    for (const auto& family : families) {
        SCOPED_TRACE(family.name);
        const CK_SESSION_HANDLE session = openSession();
        family.start(session);
        fakeLibrary().clearCalls();
        EXPECT_EQ(CKR_OK, whileHeldIn("zelmor_updateHash", [&] { return family.update(session, data, sizeof data); },
                                      [&] {
                                          EXPECT_EQ(CKR_OPERATION_ACTIVE, family.update(session, data, sizeof data));
                                          EXPECT_EQ(CKR_OPERATION_ACTIVE, family.finish(session, nullptr, &count));
                                          EXPECT_EQ(CKR_OPERATION_ACTIVE, family.restart(session));
                                      }));
        EXPECT_EQ(CKR_OK, family.finish(session, nullptr, &count));
        EXPECT_EQ(ZelmorBytes(data, data + sizeof data), fakeLibrary().calls("zelmor_finalHash").at(0).hashed);
    }
}

// An init refused while another init of the session waits in the device
// library leaves the waiting one its own mechanism.
TEST_F(ConcurrencyTest, AnInitKeepsItsMechanismWhenAnotherIsRefusedMeanwhile) {
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "k", {}));
    const CK_SESSION_HANDLE session = openSession();
    const auto refused = [&] { EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SignInit(session, &sha256Rsa, key + 5)); };
    EXPECT_EQ(CKR_OK,
              whileHeldIn("zelmor_getKeyPairList", [&] { return f()->C_SignInit(session, &rsaPkcs, key); }, refused));
    fakeLibrary().clearCalls();
    EXPECT_EQ(CKR_OK, signQuery(session));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_initHash"));  // CKM_RSA_PKCS signs the data unchanged
}
