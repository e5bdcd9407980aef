// Calls racing each other: a call held inside the device library while
// another thread works on its session, and simultaneous C_Initialize or
// C_Finalize calls. Also run under ThreadSanitizer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

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
CK_RV signInit(S session) { return p11()->C_SignInit(session, &sha256Rsa, key); }
CK_RV digestInit(S session) { return p11()->C_DigestInit(session, &sha256); }
CK_RV signPart(S session) { return p11()->C_SignUpdate(session, data, sizeof data); }
CK_RV digestPart(S session) { return p11()->C_DigestUpdate(session, data, sizeof data); }
CK_RV logIn(S session) { return p11()->C_Login(session, CKU_USER, pin, 8); }
// The multi-part families: start, one part of `data`, and (none for verification) a length query of the final call.
const struct Family {
    const char* name;
    CK_RV (*start)(S);
    CK_RV (*update)(S);
    CK_RV (*finalQuery)(S);
} families[] = {
    {"digest", digestInit, digestPart, [](S s) { return p11()->C_DigestFinal(s, nullptr, &count); }},
    {"signature", signInit, signPart, [](S s) { return p11()->C_SignFinal(s, nullptr, &count); }},
    {"verification", [](S s) { return p11()->C_VerifyInit(s, &sha256Rsa, key); },
     [](S s) { return p11()->C_VerifyUpdate(s, data, sizeof data); }, nullptr},
};
// A one-call or multi-part operation on "hello" into a large buffer.
CK_BYTE hello[] = {'h', 'e', 'l', 'l', 'o'}, out[1024];
CK_ULONG outLength;
CK_RV onHello(CK_C_Sign call, S s) { return call(s, hello, sizeof hello, out, &(outLength = sizeof out)); }
CK_RV onHelloInParts(CK_C_SignUpdate update, CK_C_SignFinal final, S s) {
    const CK_RV rv = update(s, hello, sizeof hello);
    return rv != CKR_OK ? rv : final(s, out, &(outLength = sizeof out));
}
// Ends the session's operation by starting and ending a search.
void endOperation(S session) {
    EXPECT_EQ(CKR_OK, p11()->C_FindObjectsInit(session, nullptr, 0));
    EXPECT_EQ(CKR_OK, p11()->C_FindObjectsFinal(session));
}

// Runs `call` while, the first time the device library is inside
// `operation`, `meanwhile` runs on another thread; the library call waits for
// it (a module holding a lock there would block it for good). `nested`: on the
// thread of `call`, as the library calling back. Returns the result of `call`.
CK_RV whileHeldIn(const char* operation, const std::function<CK_RV()>& call, const std::function<void()>& meanwhile,
                  bool nested = false) {
    std::future<void> other;
    std::atomic<bool> fired{false};
    fakeLibrary().edit([&](FakeState& state) {
        state.duringCall[operation] = [&] {
            if (fired.exchange(true)) return;  // calls made meanwhile pass
            if (nested) return meanwhile();
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

// Calls C_Finalize on another thread, then returns once calls are refused
// and C_Finalize has had time to end if it does not wait for the calls in
// flight (stopping the monitor takes milliseconds). Its result is left in
// `finalize`.
void startFinalize(std::future<CK_RV>* finalize) {
    *finalize = std::async(std::launch::async, [] { return p11()->C_Finalize(nullptr); });
    CK_INFO info;
    for (int i = 0; i < 1000 && p11()->C_GetInfo(&info) == CKR_OK; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    finalize->wait_for(std::chrono::milliseconds(300));
}

CK_RV listSlots() {
    CK_SLOT_ID slots[4];
    CK_ULONG slotCount = 4;
    return p11()->C_GetSlotList(CK_TRUE, slots, &slotCount);
}

// Waits for the monitor's next pass and takes the slot event it may have
// posted (a new monitor posts one for the devices it finds).
CK_SLOT_ID eventSlot;
void takePendingSlotEvent() {
    fakeLibrary().clearCalls();
    for (int i = 0; i < 150 && fakeLibrary().callCount("zelmor_getConnectedDeviceList") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p11()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &eventSlot, nullptr);
}

// The position of the first recorded call of operation, or -1.
long callPosition(const std::string& operation) {
    const std::vector<FakeCall> calls = fakeLibrary().calls();
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i].operation == operation) return static_cast<long>(i);
    return -1;
}

// The default device holds an RSA-2048 key pair, number 0.
class ConcurrencyTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "k", {}));
    }
};

}  // namespace

// The held call's session is closed and a new one opened, which gets the same
// handle: the held call must not finish its work in the new session. While
// the held signature waits, the new session signs too: no module lock is held
// across signing.
TEST_F(ConcurrencyTest, HeldCallsDoNotReachANewSessionUnderTheirHandle) {
    const struct {
        const char* name;
        const char* heldIn;
        CK_RV (*prepare)(S);  // on the old session, before
        CK_RV (*call)(S);
        CK_RV (*startNew)(S);  // on the new session, while the call is held
        CK_RV (*follow)(S);   // on the new session, after (if any): its result, and the calls of `counted` in all
        CK_RV followResult;
        const char* counted;
        std::size_t calls;
    } rows[] = {
        {"signature", "zelmor_signHash", signInit, signQuery,
         [](S s) { return signInit(s) == CKR_OK ? signQuery(s) : signInit(s); }, nullptr, 0, "zelmor_signHash", 2},
        {"sign init", "zelmor_getKeyPairList", nullptr, [](S s) { return p11()->C_SignInit(s, &rsaPkcs, key); },
         nullptr, signQuery, CKR_OPERATION_NOT_INITIALIZED, "zelmor_signHash", 0},
        {"digest", "zelmor_updateHash", digestInit, digestQuery, digestInit, digestQuery, CKR_OK, "zelmor_finalHash",
         2},
        {"search", "zelmor_getKeyPairList", nullptr, [](S s) { return p11()->C_FindObjectsInit(s, nullptr, 0); },
         nullptr, [](S s) { return p11()->C_FindObjects(s, found, 4, &count); }, CKR_OPERATION_NOT_INITIALIZED,
         "zelmor_getKeyPairList", 2},
        {"login", "zelmor_validatePassword", nullptr, logIn, nullptr, [](S s) { return sessionState(s); },
         CKS_RW_PUBLIC_SESSION, "zelmor_validatePassword", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(CKR_OK, f()->C_CloseAllSessions(firstSlot));
        const CK_SESSION_HANDLE held = openSession();
        ASSERT_EQ(CKR_OK, row.prepare ? row.prepare(held) : CKR_OK);
        fakeLibrary().clearCalls();
        CK_SESSION_HANDLE replacement = CK_INVALID_HANDLE;
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, whileHeldIn(row.heldIn, [&] { return row.call(held); }, [&] {
            ASSERT_EQ(CKR_OK, f()->C_CloseSession(held));
            replacement = openSession();
            EXPECT_EQ(CKR_OK, row.startNew ? row.startNew(replacement) : CKR_OK);
        }));
        ASSERT_EQ(held, replacement);
        if (row.follow) EXPECT_EQ(row.followResult, row.follow(replacement));
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
    for (const Family& family : families) {
        if (!family.finalQuery) continue;
        SCOPED_TRACE(family.name);
        const CK_SESSION_HANDLE session = openSession();
        ASSERT_EQ(CKR_OK, family.start(session));
        fakeLibrary().clearCalls();
        EXPECT_EQ(CKR_OK, whileHeldIn("zelmor_updateHash", [&] { return family.update(session); }, [&] {
            EXPECT_EQ(CKR_OPERATION_ACTIVE, family.update(session));
            EXPECT_EQ(CKR_OPERATION_ACTIVE, family.finalQuery(session));
            EXPECT_EQ(CKR_OPERATION_ACTIVE, family.start(session));
        }));
        EXPECT_EQ(CKR_OK, family.finalQuery(session));
        EXPECT_EQ(ZelmorBytes(data, data + sizeof data), fakeLibrary().calls("zelmor_finalHash").at(0).hashed);
    }
}

// A call held inside the library while its operation is ended and a new one
// of the same kind started (with another key where there is one) must leave
// the new operation alone: its late hash context or result is dropped, and
// the new operation works on its own input only.
TEST_F(ConcurrencyTest, ALateCallLeavesTheNextOperationOfItsSessionAlone) {
    constexpr CK_OBJECT_HANDLE otherKey = key + 1;
    const struct {
        const char* name;
        const char* heldIn;
        CK_RV (*start)(S);       // the first operation
        CK_RV (*late)(S);        // held in the library while the first operation ends and the next starts
        CK_RV (*restart)(S);     // the next operation
        CK_RV (*next)(S);        // its calls with "hello", after the late call returned
        const char* computedBy;  // the library call whose last input is the next operation's
        ZelmorBytes FakeCall::*input;  // where the fake records that input
    } rows[] = {
        {"multi-part signature's hash context", "zelmor_updateHash", signInit, signPart,
         [](S s) { return p11()->C_SignInit(s, &sha256Rsa, otherKey); },
         [](S s) { return onHelloInParts(p11()->C_SignUpdate, p11()->C_SignFinal, s); }, "zelmor_finalHash",
         &FakeCall::hashed},
        {"signature kept by a length query", "zelmor_signHash", [](S s) { return p11()->C_SignInit(s, &rsaPkcs, key); },
         signQuery, [](S s) { return p11()->C_SignInit(s, &rsaPkcs, otherKey); },
         [](S s) { return onHello(p11()->C_Sign, s); }, "zelmor_signHash", &FakeCall::data},
        {"plaintext kept by a length query", "zelmor_decrypt",
         [](S s) { return p11()->C_DecryptInit(s, &rsaPkcs, key); },
         [](S s) { return lengthQuery(p11()->C_Decrypt, s); },
         [](S s) { return p11()->C_DecryptInit(s, &rsaPkcs, otherKey); },
         [](S s) { return onHello(p11()->C_Decrypt, s); }, "zelmor_decrypt", &FakeCall::data},
        {"digest's hash context", "zelmor_updateHash", digestInit, digestPart, digestInit,
         [](S s) { return onHelloInParts(p11()->C_DigestUpdate, p11()->C_DigestFinal, s); }, "zelmor_finalHash",
         &FakeCall::hashed},
        {"digest kept by a length query", "zelmor_finalHash", digestInit, digestQuery, digestInit,
         [](S s) { return onHello(p11()->C_Digest, s); }, "zelmor_finalHash", &FakeCall::hashed},
    };
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(1, keyKindRsa2048, "k2", {}));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CK_SESSION_HANDLE session = openSession();
        ASSERT_EQ(CKR_OK, row.start(session));
        whileHeldIn(row.heldIn, [&] { return row.late(session); }, [&] {
            endOperation(session);
            EXPECT_EQ(CKR_OK, row.restart(session));
        });
        EXPECT_EQ(CKR_OK, row.next(session));
        EXPECT_EQ(ZelmorBytes(hello, hello + sizeof hello), fakeLibrary().calls(row.computedBy).back().*row.input);
        ASSERT_EQ(CKR_OK, f()->C_CloseSession(session));
    }
}

// A part fed to an operation that ended while the library worked on it never
// reaches any digest or signature: the caller is told, not answered CKR_OK.
TEST_F(ConcurrencyTest, ALatePartIsReportedAsNotFed) {
    for (const Family& row : families) {
        SCOPED_TRACE(row.name);
        const CK_SESSION_HANDLE session = openSession();
        ASSERT_EQ(CKR_OK, row.start(session));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED,
                  whileHeldIn("zelmor_updateHash", [&] { return row.update(session); }, [&] { endOperation(session); }));
        ASSERT_EQ(CKR_OK, f()->C_CloseSession(session));
    }
}

// C_Finalize waits for a call held inside the device library: the call gets
// through with the instance before C_Finalize releases it.
TEST_F(ConcurrencyTest, FinalizeWaitsForTheCallsInFlight) {
    const struct {
        const char* name;
        const char* heldIn;
        CK_RV (*prepare)(S);
        CK_RV (*call)(S);
    } rows[] = {
        {"signature", "zelmor_signHash", signInit, signQuery},
        {"digest part", "zelmor_updateHash", digestInit, digestPart},
        {"login", "zelmor_validatePassword", nullptr, logIn},
        {"slot list", "zelmor_getTokenInfo", nullptr, [](S) { return listSlots(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        refreshSlots();
        const CK_SESSION_HANDLE session = openSession();
        ASSERT_EQ(CKR_OK, row.prepare ? row.prepare(session) : CKR_OK);
        fakeLibrary().clearCalls();
        std::future<CK_RV> finalize;
        whileHeldIn(row.heldIn, [&] { return row.call(session); }, [&] { startFinalize(&finalize); });
        ASSERT_EQ(CKR_OK, finalize.get());
        ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
        EXPECT_LT(callPosition(row.heldIn), callPosition("zelmor_releaseInstance"));
    }
}

// Sessions opened and slot lists taken while C_Finalize runs belong to the
// old cycle: none is left after the next C_Initialize.
TEST_F(ConcurrencyTest, NothingMadeDuringFinalizeSurvivesIt) {
    static CK_SESSION_INFO sessionInfo;
    static CK_SLOT_INFO slotInfo;
    const struct {
        const char* name;
        CK_RV (*make)(S*);   // the session handle it gets, if any
        CK_RV (*check)(S);  // on each thing made, after the next C_Initialize: CKR_OK if it survived
    } rows[] = {
        {"session", [](S* s) { return p11()->C_OpenSession(firstSlot, CKF_SERIAL_SESSION, nullptr, nullptr, s); },
         [](S s) { return p11()->C_GetSessionInfo(s, &sessionInfo); }},
        {"slot", [](S*) { return listSlots(); }, [](S) { return p11()->C_GetSlotInfo(firstSlot, &slotInfo); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int cyclesWithSurvivors = 0;
        for (int cycle = 0; cycle < 40; ++cycle) {
            refreshSlots();
            std::atomic<bool> stop{false};
            std::atomic<int> made{0};
            auto loop = std::async(std::launch::async, [&] {
                std::set<S> handles;  // a slot list gets none: CK_INVALID_HANDLE stands for it
                for (S handle = CK_INVALID_HANDLE; !stop; handle = CK_INVALID_HANDLE) {
                    if (row.make(&handle) == CKR_OK) {
                        handles.insert(handle);
                        ++made;
                    }
                }
                return handles;
            });
            for (int i = 0; i < 5000 && made == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const CK_RV finalized = f()->C_Finalize(nullptr);
            stop = true;
            const std::set<S> handles = loop.get();
            ASSERT_EQ(CKR_OK, finalized);
            ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
            cyclesWithSurvivors +=
                std::any_of(handles.begin(), handles.end(), [&](S handle) { return row.check(handle) == CKR_OK; });
        }
        EXPECT_EQ(0, cyclesWithSurvivors);
    }
}

// A call made from inside another call (the device library calling back)
// cannot stop or restart the module under that call, and does not wait for
// a C_Finalize that waits for it.
TEST_F(ConcurrencyTest, ACallFromInsideACallLeavesTheLifecycleAlone) {
    const struct {
        const char* name;
        CK_RV (*nested)(std::future<CK_RV>*);
        CK_RV expected;
    } rows[] = {
        {"C_Finalize", [](std::future<CK_RV>*) { return p11()->C_Finalize(nullptr); }, CKR_FUNCTION_FAILED},
        {"C_Initialize while C_Finalize waits",
         [](std::future<CK_RV>* finalize) {
             startFinalize(finalize);
             return p11()->C_Initialize(nullptr);
         },
         CKR_CRYPTOKI_ALREADY_INITIALIZED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::future<CK_RV> finalize;
        CK_RV nested = CKR_OK;
        whileHeldIn("zelmor_getTokenInfo", listSlots, [&] { nested = row.nested(&finalize); }, true);
        if (finalize.valid()) EXPECT_EQ(CKR_OK, finalize.get());
        ensureInitialised();
        EXPECT_EQ(row.expected, nested);
    }
}

// A blocked C_WaitForSlotEvent is woken with 0x190 by C_Finalize even while
// C_Finalize waits for another call.
TEST_F(ConcurrencyTest, FinalizeWakesAWaiterWhileItWaitsForACall) {
    takePendingSlotEvent();
    std::future<CK_RV> waiter, finalize;
    whileHeldIn("zelmor_getTokenInfo", listSlots, [&] {
        waiter = std::async(std::launch::async, [] { return p11()->C_WaitForSlotEvent(0, &eventSlot, nullptr); });
        waiter.wait_for(std::chrono::milliseconds(100));
        startFinalize(&finalize);
        waiter.wait_for(std::chrono::seconds(5));
    });
    // A waiter left blocked keeps C_Finalize waiting: a device change ends it.
    if (waiter.wait_for(std::chrono::seconds(0)) != std::future_status::ready) fakeLibrary().setConnected({});
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, waiter.get());
    ASSERT_EQ(CKR_OK, finalize.get());
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
}

// A digest start that finds another operation begun while the library made
// its hash context is refused, and that context is finished, not kept.
TEST_F(ConcurrencyTest, ADigestStartOvertakenByAnotherOperationIsRefused) {
    const CK_SESSION_HANDLE session = openSession();
    const auto search = [&] { EXPECT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0)); };
    EXPECT_EQ(CKR_OPERATION_ACTIVE, whileHeldIn("zelmor_initHash", [&] { return digestInit(session); }, search));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

// An init refused while another init of the session waits in the device
// library leaves the waiting one its own mechanism.
TEST_F(ConcurrencyTest, AnInitKeepsItsMechanismWhenAnotherIsRefusedMeanwhile) {
    const CK_SESSION_HANDLE session = openSession();
    const auto refused = [&] { EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, f()->C_SignInit(session, &sha256Rsa, key + 5)); };
    EXPECT_EQ(CKR_OK,
              whileHeldIn("zelmor_getKeyPairList", [&] { return f()->C_SignInit(session, &rsaPkcs, key); }, refused));
    fakeLibrary().clearCalls();
    EXPECT_EQ(CKR_OK, signQuery(session));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_initHash"));  // CKM_RSA_PKCS signs the data unchanged
}
