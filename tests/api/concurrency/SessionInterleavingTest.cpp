// A call held inside the device library while another thread works on its
// session: closes it and opens a new session, which gets the same handle, or
// uses the same session. The held call must never finish its work in the new
// session, and two calls must never share the session's hash context.
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

class SessionInterleavingTest : public ModuleTest {};

CK_MECHANISM rsaPkcs{CKM_RSA_PKCS, nullptr, 0};
CK_MECHANISM sha256Rsa{CKM_SHA256_RSA_PKCS, nullptr, 0};
CK_MECHANISM sha256{CKM_SHA256, nullptr, 0};
constexpr CK_OBJECT_HANDLE key = 0x70000000;
CK_BYTE data[16] = {1, 2, 3};

CK_RV lengthQuery(CK_RV (*function)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR),
                  CK_SESSION_HANDLE session) {
    CK_ULONG length = 0;
    return function(session, data, sizeof data, nullptr, &length);
}

}  // namespace

TEST_F(SessionInterleavingTest, HeldCallsDoNotReachANewSessionUnderTheirHandle) {
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "k", {}));
    CK_FUNCTION_LIST_PTR p = f();
    CK_UTF8CHAR pin[] = "12345678";
    const struct {
        const char* name;
        const char* heldIn;  // the device operation the call is held in
        std::function<void(CK_SESSION_HANDLE)> prepare;
        std::function<CK_RV(CK_SESSION_HANDLE)> call;
        // Run on the new session while the call is held, then afterwards.
        std::function<void(CK_SESSION_HANDLE)> startNew, checkNew;
    } cases[] = {
        {"signature", "zelmor_signHash",
         [&](CK_SESSION_HANDLE s) { ASSERT_EQ(CKR_OK, p->C_SignInit(s, &sha256Rsa, key)); },
         [&](CK_SESSION_HANDLE s) { return lengthQuery(p->C_Sign, s); },
         [&](CK_SESSION_HANDLE s) { ASSERT_EQ(CKR_OK, p->C_SignInit(s, &sha256Rsa, key)); },
         [&](CK_SESSION_HANDLE s) {
             // Its own signature: a second device signing call, not the old session's.
             EXPECT_EQ(CKR_OK, lengthQuery(p->C_Sign, s));
             EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_signHash"));
         }},
        {"key pair of an Init", "zelmor_getKeyPairList", nullptr,
         [&](CK_SESSION_HANDLE s) { return p->C_SignInit(s, &rsaPkcs, key); }, nullptr,
         [&](CK_SESSION_HANDLE s) { EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, lengthQuery(p->C_Sign, s)); }},
        {"digest", "zelmor_updateHash",
         [&](CK_SESSION_HANDLE s) { ASSERT_EQ(CKR_OK, p->C_DigestInit(s, &sha256)); },
         [&](CK_SESSION_HANDLE s) { return lengthQuery(p->C_Digest, s); },
         [&](CK_SESSION_HANDLE s) { ASSERT_EQ(CKR_OK, p->C_DigestInit(s, &sha256)); },
         [&](CK_SESSION_HANDLE s) {
             EXPECT_EQ(CKR_OK, lengthQuery(p->C_Digest, s));
             EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_finalHash"));
         }},
        {"search", "zelmor_getKeyPairList", nullptr,
         [&](CK_SESSION_HANDLE s) { return p->C_FindObjectsInit(s, nullptr, 0); }, nullptr,
         [&](CK_SESSION_HANDLE s) {
             CK_OBJECT_HANDLE found[4];
             CK_ULONG count = 0;
             EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p->C_FindObjects(s, found, 4, &count));
         }},
        {"login", "zelmor_validatePassword", nullptr,
         [&](CK_SESSION_HANDLE s) { return p->C_Login(s, CKU_USER, pin, 8); }, nullptr,
         [&](CK_SESSION_HANDLE s) {
             CK_SESSION_INFO info;
             ASSERT_EQ(CKR_OK, p->C_GetSessionInfo(s, &info));
             EXPECT_EQ(static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION), info.state);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(CKR_OK, p->C_CloseAllSessions(firstSlot));
        const CK_SESSION_HANDLE held = openSession();
        if (c.prepare) c.prepare(held);
        fakeLibrary().clearCalls();

        CK_SESSION_HANDLE replacement = CK_INVALID_HANDLE;
        std::future<void> replacing;
        std::atomic<bool> fired{false};
        fakeLibrary().edit([&](FakeState& state) {
            state.duringCall[c.heldIn] = [&] {
                if (fired.exchange(true)) return;  // the new session's own calls pass
                replacing = std::async(std::launch::async, [&] {
                    ASSERT_EQ(CKR_OK, p->C_CloseSession(held));
                    ASSERT_EQ(CKR_OK, p->C_OpenSession(firstSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                                       nullptr, &replacement));
                    if (c.startNew) c.startNew(replacement);
                });
                // Generous: a module holding its lock here would block the other thread for good.
                EXPECT_EQ(std::future_status::ready, replacing.wait_for(std::chrono::seconds(10)));
            };
        });
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, c.call(held));
        fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });
        ASSERT_TRUE(fired);
        replacing.get();
        ASSERT_EQ(held, replacement);
        c.checkNew(replacement);
        EXPECT_EQ(0, fakeLibrary().liveHashContexts());
    }
}

// While one call feeds the digest's hash context to the device, other calls
// of the same session that need the context are refused; none reaches the
// library without a context.
TEST_F(SessionInterleavingTest, ACallWorkingOnTheHashContextHasItAlone) {
    CK_FUNCTION_LIST_PTR p = f();
    const CK_SESSION_HANDLE session = openSession();
    ASSERT_EQ(CKR_OK, p->C_DigestInit(session, &sha256));
    fakeLibrary().clearCalls();
    std::future<void> others;
    std::atomic<bool> fired{false};
    fakeLibrary().edit([&](FakeState& state) {
        state.duringCall["zelmor_updateHash"] = [&] {
            if (fired.exchange(true)) return;
            others = std::async(std::launch::async, [&] {
                CK_ULONG length = 0;
                EXPECT_EQ(CKR_OPERATION_ACTIVE, p->C_DigestUpdate(session, data, sizeof data));
                EXPECT_EQ(CKR_OPERATION_ACTIVE, p->C_DigestFinal(session, nullptr, &length));
                EXPECT_EQ(CKR_OPERATION_ACTIVE, lengthQuery(p->C_Digest, session));
                EXPECT_EQ(CKR_OPERATION_ACTIVE, p->C_DigestInit(session, &sha256));
            });
            EXPECT_EQ(std::future_status::ready, others.wait_for(std::chrono::seconds(10)));
        };
    });
    EXPECT_EQ(CKR_OK, p->C_DigestUpdate(session, data, sizeof data));
    fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });
    ASSERT_TRUE(fired);
    others.get();
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_updateHash"));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_finalHash"));

    // The context went back: the digest goes on with the first call's data.
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OK, p->C_DigestFinal(session, nullptr, &length));
    auto finals = fakeLibrary().calls("zelmor_finalHash");
    ASSERT_EQ(1u, finals.size());
    EXPECT_EQ(ZelmorBytes(data, data + sizeof data), finals[0].data);
}
