// Several application threads open, use, log in and out of and close
// sessions while the session monitor polls and devices come and go. Run under
// ThreadSanitizer this shows the session table, the password, the slot cache
// and the event flags are only touched under their locks.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

const char* const secondDevice = "ZLM0000002";

// Collects results that are not among the allowed ones; checked on the main thread.
class Unexpected {
public:
    void check(const char* call, CK_RV rv, std::initializer_list<CK_RV> allowed) {
        for (CK_RV ok : allowed) {
            if (rv == ok) return;
        }
        std::lock_guard<std::mutex> guard(lock);
        found.push_back(std::string(call) + " returned " + std::to_string(rv));
    }
    std::vector<std::string> results() {
        std::lock_guard<std::mutex> guard(lock);
        return found;
    }

private:
    std::mutex lock;
    std::vector<std::string> found;
};

class ConcurrencyTest : public ModuleTest {};

void sessionWorker(int seed, const std::atomic<bool>& stop, Unexpected& unexpected, std::atomic<int>& logins) {
    CK_FUNCTION_LIST_PTR f = p11();
    CK_UTF8CHAR pin[] = "12345678";
    for (unsigned round = 0; !stop.load(); ++round) {
        const CK_SLOT_ID slot = firstSlot + ((round + seed) % 2);
        const CK_FLAGS flags = CKF_SERIAL_SESSION | ((round + seed) % 3 == 0 ? 0 : CKF_RW_SESSION);
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        CK_RV rv = f->C_OpenSession(slot, flags, nullptr, nullptr, &session);
        // The slot list thread may have rebuilt the cache without the device.
        unexpected.check("C_OpenSession", rv, {CKR_OK, CKR_SLOT_ID_INVALID});
        if (rv != CKR_OK) continue;

        // CKR_SESSION_HANDLE_INVALID: the close-all thread got there first.
        CK_SESSION_INFO info;
        unexpected.check("C_GetSessionInfo", f->C_GetSessionInfo(session, &info),
                         {CKR_OK, CKR_SESSION_HANDLE_INVALID});
        rv = f->C_Login(session, CKU_USER, pin, 8);
        // Already logged in by another thread, or the device is unplugged.
        unexpected.check("C_Login", rv,
                         {CKR_OK, CKR_USER_ALREADY_LOGGED_IN, CKR_FUNCTION_FAILED, CKR_SESSION_HANDLE_INVALID});
        if (rv == CKR_OK) logins.fetch_add(1);
        CK_TOKEN_INFO token;
        unexpected.check("C_GetTokenInfo", f->C_GetTokenInfo(slot, &token), {CKR_OK, CKR_SLOT_ID_INVALID});
        if (round % 4 == 0) {
            unexpected.check("C_SetPIN", f->C_SetPIN(session, pin, 8, pin, 8),
                             {CKR_OK, CKR_SESSION_READ_ONLY, CKR_FUNCTION_FAILED, CKR_SESSION_HANDLE_INVALID});
        }
        if (round % 3 == 0) {
            unexpected.check("C_Logout", f->C_Logout(session),
                             {CKR_OK, CKR_USER_NOT_LOGGED_IN, CKR_SESSION_HANDLE_INVALID});
        }
        unexpected.check("C_CloseSession", f->C_CloseSession(session), {CKR_OK, CKR_SESSION_HANDLE_INVALID});
    }
}

}  // namespace

TEST_F(ConcurrencyTest, SessionsLoginsAndDevicesChangingTogether) {
    fakeLibrary().addDevice(secondDevice);
    refreshSlots();
    Unexpected unexpected;
    std::atomic<bool> stop{false};
    std::atomic<int> logins{0};
    std::vector<std::thread> threads;

    for (int seed = 0; seed < 4; ++seed) {
        threads.emplace_back([&, seed] { sessionWorker(seed, stop, unexpected, logins); });
    }
    // Devices come and go.
    threads.emplace_back([&] {
        const std::vector<std::vector<std::string>> shapes = {
            {defaultDevice, secondDevice}, {defaultDevice}, {secondDevice, defaultDevice}, {secondDevice}, {}};
        for (unsigned i = 0; !stop.load(); ++i) {
            fakeLibrary().setConnected(shapes[i % shapes.size()]);
            std::this_thread::sleep_for(std::chrono::milliseconds(70));
        }
    });
    // Slot lists rebuild the cache; now and then every session is closed.
    threads.emplace_back([&] {
        CK_FUNCTION_LIST_PTR f = p11();
        for (unsigned i = 0; !stop.load(); ++i) {
            CK_SLOT_ID slots[4];
            CK_ULONG count = 4;
            unexpected.check("C_GetSlotList", f->C_GetSlotList(CK_TRUE, slots, &count), {CKR_OK});
            CK_SLOT_INFO info;
            unexpected.check("C_GetSlotInfo", f->C_GetSlotInfo(firstSlot, &info), {CKR_OK, CKR_SLOT_ID_INVALID});
            if (i % 25 == 24) {
                unexpected.check("C_CloseAllSessions", f->C_CloseAllSessions(firstSlot),
                                 {CKR_OK, CKR_SLOT_ID_INVALID});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    // Slot events are collected as they come.
    std::atomic<int> events{0};
    threads.emplace_back([&] {
        CK_FUNCTION_LIST_PTR f = p11();
        while (!stop.load()) {
            CK_SLOT_ID slot = 0;
            CK_RV rv = f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr);
            unexpected.check("C_WaitForSlotEvent", rv, {CKR_OK, CKR_NO_EVENT});
            if (rv == CKR_OK) events.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    // Long enough for the monitor to make a few passes over a busy table.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    stop.store(true);
    for (std::thread& thread : threads) thread.join();

    for (const std::string& result : unexpected.results()) ADD_FAILURE() << result;
    EXPECT_GT(logins.load(), 0);
    EXPECT_GT(events.load(), 0);

    // The table is consistent afterwards: closing everything starts the handles again.
    fakeLibrary().setConnected({defaultDevice, secondDevice});
    refreshSlots();
    ASSERT_EQ(CKR_OK, f()->C_CloseAllSessions(firstSlot));
    EXPECT_EQ(0x60000001u, openSession());
}

// Two threads start the module together, then two stop it together (as an
// application and a plug-in of it may): one of each pair does the work, the
// other is told it is done. The first thread to reach zelmor_createInstance
// or zelmor_releaseInstance is held there until a second one arrives or a
// short wait ends, so without serialisation both would be inside at once.
TEST_F(ConcurrencyTest, SimultaneousInitializeOrFinalizeLeavesOneWinner) {
    CK_FUNCTION_LIST_PTR functions = f();
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
        state.duringCall["zelmor_createInstance"] = holdForASecondCaller;
        state.duringCall["zelmor_releaseInstance"] = holdForASecondCaller;
    });
    auto race = [&](auto call) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            inside = 0;
        }
        CK_RV results[2] = {};
        std::thread first([&] { results[0] = call(nullptr); });
        std::thread second([&] { results[1] = call(nullptr); });
        first.join();
        second.join();
        return std::multiset<CK_RV>{results[0], results[1]};
    };

    ASSERT_EQ(CKR_OK, functions->C_Finalize(nullptr));
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        fakeLibrary().clearCalls();
        EXPECT_EQ((std::multiset<CK_RV>{CKR_OK, CKR_CRYPTOKI_ALREADY_INITIALIZED}), race(functions->C_Initialize));
        EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_createInstance"));
        EXPECT_EQ((std::multiset<CK_RV>{CKR_OK, CKR_CRYPTOKI_NOT_INITIALIZED}), race(functions->C_Finalize));
        EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_releaseInstance"));
    }
    fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });
    EXPECT_EQ(CKR_OK, functions->C_Initialize(nullptr));
}
