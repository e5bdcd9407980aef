// Calls racing each other: a call held inside the device library while
// another thread works on its session, and simultaneous C_Initialize or
// C_Finalize calls. Also run under ThreadSanitizer.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

CK_MECHANISM rsaPkcs{CKM_RSA_PKCS, nullptr, 0}, sha256Rsa{CKM_SHA256_RSA_PKCS, nullptr, 0}, sha256{CKM_SHA256, nullptr, 0};
constexpr CK_OBJECT_HANDLE key = 0x70000000;
CK_BYTE data[16] = {1, 2, 3};
CK_UTF8CHAR pin[] = "12345678";

CK_RV lengthQuery(CK_RV (*function)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR),
                  CK_SESSION_HANDLE session) {
    CK_ULONG length = 0;
    return function(session, data, sizeof data, nullptr, &length);
}

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
    CK_FUNCTION_LIST_PTR p = f();
    const struct {
        const char* heldIn;
        void (*prepare)(CK_SESSION_HANDLE);  // on the old session, before
        CK_RV (*call)(CK_SESSION_HANDLE);
        void (*startNew)(CK_SESSION_HANDLE);  // on the new session, while the call is held
        void (*checkNew)(CK_SESSION_HANDLE);  // on the new session, after
    } rows[] = {
        {"zelmor_signHash", [](CK_SESSION_HANDLE s) { ASSERT_EQ(CKR_OK, p11()->C_SignInit(s, &sha256Rsa, key)); },
         [](CK_SESSION_HANDLE s) { return lengthQuery(p11()->C_Sign, s); },
         [](CK_SESSION_HANDLE s) {
             ASSERT_EQ(CKR_OK, p11()->C_SignInit(s, &sha256Rsa, key));
             EXPECT_EQ(CKR_OK, lengthQuery(p11()->C_Sign, s));
         },
         [](CK_SESSION_HANDLE) { EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_signHash")); }},
        {"zelmor_getKeyPairList", nullptr, [](CK_SESSION_HANDLE s) { return p11()->C_SignInit(s, &rsaPkcs, key); }, nullptr,
         [](CK_SESSION_HANDLE s) { EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, lengthQuery(p11()->C_Sign, s)); }},
        {"zelmor_updateHash", [](CK_SESSION_HANDLE s) { ASSERT_EQ(CKR_OK, p11()->C_DigestInit(s, &sha256)); },
         [](CK_SESSION_HANDLE s) { return lengthQuery(p11()->C_Digest, s); },
         [](CK_SESSION_HANDLE s) { ASSERT_EQ(CKR_OK, p11()->C_DigestInit(s, &sha256)); },
         [](CK_SESSION_HANDLE s) {
             EXPECT_EQ(CKR_OK, lengthQuery(p11()->C_Digest, s));
             EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_finalHash"));
         }},
        {"zelmor_getKeyPairList", nullptr, [](CK_SESSION_HANDLE s) { return p11()->C_FindObjectsInit(s, nullptr, 0); }, nullptr,
         [](CK_SESSION_HANDLE s) {
             CK_OBJECT_HANDLE found[4];
             CK_ULONG count = 0;
             EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11()->C_FindObjects(s, found, 4, &count));
         }},
        {"zelmor_validatePassword", nullptr, [](CK_SESSION_HANDLE s) { return p11()->C_Login(s, CKU_USER, pin, 8); }, nullptr,
         [](CK_SESSION_HANDLE s) { EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(s)); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        ASSERT_EQ(CKR_OK, p->C_CloseAllSessions(firstSlot));
        const CK_SESSION_HANDLE held = openSession();
        if (row.prepare) row.prepare(held);
        fakeLibrary().clearCalls();
        CK_SESSION_HANDLE replacement = CK_INVALID_HANDLE;
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, whileHeldIn(row.heldIn, [&] { return row.call(held); }, [&] {
            ASSERT_EQ(CKR_OK, p->C_CloseSession(held));
            replacement = openSession();
            if (row.startNew) row.startNew(replacement);
        }));
        ASSERT_EQ(held, replacement);
        row.checkNew(replacement);
        EXPECT_EQ(0, fakeLibrary().liveHashContexts());
    }
}

// While one call feeds the digest's hash context to the device, the other
// calls of the session that need it are refused; none reaches the library
// without a context, and the digest goes on with the first call's data.
TEST_F(ConcurrencyTest, ACallWorkingOnTheHashContextHasItAlone) {
    const CK_SESSION_HANDLE session = openSession();
    ASSERT_EQ(CKR_OK, f()->C_DigestInit(session, &sha256));
    fakeLibrary().clearCalls();
    EXPECT_EQ(CKR_OK, whileHeldIn("zelmor_updateHash", [&] { return f()->C_DigestUpdate(session, data, sizeof data); }, [&] {
        CK_ULONG length = 0;
        EXPECT_EQ(CKR_OPERATION_ACTIVE, p11()->C_DigestUpdate(session, data, sizeof data));
        EXPECT_EQ(CKR_OPERATION_ACTIVE, p11()->C_DigestFinal(session, nullptr, &length));
        EXPECT_EQ(CKR_OPERATION_ACTIVE, lengthQuery(p11()->C_Digest, session));
        EXPECT_EQ(CKR_OPERATION_ACTIVE, p11()->C_DigestInit(session, &sha256));
    }));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_updateHash"));
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OK, f()->C_DigestFinal(session, nullptr, &length));
    const auto finals = fakeLibrary().calls("zelmor_finalHash");
    ASSERT_EQ(1u, finals.size());
    EXPECT_EQ(ZelmorBytes(data, data + sizeof data), finals[0].data);
}

// Two threads start the module together, then two stop it together: one of
// each pair does the work, the other is told it is done. The first thread to
// reach zelmor_createInstance or zelmor_releaseInstance is held there until a
// second one arrives or a short wait ends, so without serialisation both
// would be inside at once.
TEST_F(ConcurrencyTest, SimultaneousInitializeOrFinalizeLeavesOneWinner) {
    std::mutex mutex;
    std::condition_variable arrived;
    int inside = 0;
    auto holdForASecondCaller = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        ++inside;
        arrived.notify_all();
        arrived.wait_for(lock, std::chrono::milliseconds(100), [&] { return inside >= 2; });
    };
    fakeLibrary().edit([&](FakeState& state) {
        state.duringCall["zelmor_createInstance"] = state.duringCall["zelmor_releaseInstance"] = holdForASecondCaller;
    });
    auto race = [&](CK_RV (*call)(CK_VOID_PTR), const char* operation) {
        fakeLibrary().clearCalls();
        inside = 0;
        CK_RV results[2] = {};
        std::thread first([&] { results[0] = call(nullptr); }), second([&] { results[1] = call(nullptr); });
        first.join();
        second.join();
        EXPECT_EQ(1u, fakeLibrary().callCount(operation));
        return std::multiset<CK_RV>{results[0], results[1]};
    };
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    for (int round = 0; round < 5; ++round) {
        EXPECT_EQ((std::multiset<CK_RV>{CKR_OK, CKR_CRYPTOKI_ALREADY_INITIALIZED}), race(f()->C_Initialize, "zelmor_createInstance"));
        EXPECT_EQ((std::multiset<CK_RV>{CKR_OK, CKR_CRYPTOKI_NOT_INITIALIZED}), race(f()->C_Finalize, "zelmor_releaseInstance"));
    }
    fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });
    EXPECT_EQ(CKR_OK, f()->C_Initialize(nullptr));
}
