// The session monitor and C_WaitForSlotEvent: count events, logging out the
// sessions of unplugged devices, and the stop that releases blocked waiters.
// These tests wait for the monitor's one-second passes.
#include <chrono>
#include <future>
#include <thread>

#include "SlotTestSupport.h"

using namespace slot_tests;

namespace {

const char* const secondDevice = "ZLM0000002";

class SlotEventTest : public ModuleTest {
protected:
    CK_RV poll(CK_SLOT_ID* slot) { return f()->C_WaitForSlotEvent(CKF_DONT_BLOCK, slot, nullptr); }
    CK_STATE state(CK_SESSION_HANDLE session) {
        CK_SESSION_INFO info{};
        EXPECT_EQ(CKR_OK, f()->C_GetSessionInfo(session, &info));
        return info.state;
    }
    bool loggedIn() {
        CK_SESSION_HANDLE probe = openSession(false);
        bool result = state(probe) == CKS_RO_USER_FUNCTIONS;
        f()->C_CloseSession(probe);
        return result;
    }
};

// A blocking C_WaitForSlotEvent on its own thread.
struct Waiter {
    CK_SLOT_ID slot = 0;
    std::future<CK_RV> rv =
        std::async(std::launch::async, [this] { return p11()->C_WaitForSlotEvent(0, &slot, nullptr); });
    bool finishesWithin(std::chrono::milliseconds limit) { return rv.wait_for(limit) == std::future_status::ready; }
};

}  // namespace

// Changes of the device count post one event, whatever their number before
// it is collected; a list that changes but keeps its length posts nothing.
TEST_F(SlotEventTest, CountChangesPostOneEventForTheFirstSlot) {
    // A null slot pointer is refused first, whatever the flags.
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_WaitForSlotEvent(CKF_DONT_BLOCK, nullptr, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_WaitForSlotEvent(0, nullptr, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_WaitForSlotEvent(0xFFFF, nullptr, nullptr));
    settleSlotEvents();
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot));
    EXPECT_EQ(0u, slot);

    fakeLibrary().addDevice(secondDevice);
    waitForMonitorPass();
    fakeLibrary().setConnected({});
    waitForMonitorPass();
    ASSERT_EQ(CKR_OK, poll(&slot));
    EXPECT_EQ(firstSlot, slot) << "events always name the first slot";
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot));
    EXPECT_TRUE(logHasDebugLine("Slot event: device count changed from 1 to 2"));
    EXPECT_TRUE(logHasDebugLine("Slot event: device count changed from 2 to 0"));
    EXPECT_TRUE(logHasDebugLine("C_WaitForSlotEvent: non-blocking, returning slot 1342177281"));

    fakeLibrary().setConnected({secondDevice});
    waitForMonitorPass();
    EXPECT_EQ(CKR_OK, poll(&slot));
    fakeLibrary().setConnected({defaultDevice});
    waitForMonitorPass();
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot));
}

TEST_F(SlotEventTest, BlockingWaitReturnsTheNextEvent) {
    settleSlotEvents();
    Waiter waiter;
    EXPECT_FALSE(waiter.finishesWithin(std::chrono::milliseconds(300)));
    fakeLibrary().addDevice(secondDevice);
    ASSERT_TRUE(waiter.finishesWithin(std::chrono::milliseconds(5000)));
    EXPECT_EQ(CKR_OK, waiter.rv.get());
    EXPECT_EQ(firstSlot, waiter.slot);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot)) << "the blocking wait took the event";
    EXPECT_TRUE(logHasDebugLine("C_WaitForSlotEvent: blocking, returning slot 1342177281"));
}

TEST_F(SlotEventTest, UnpluggedDevicesSessionsAreLoggedOut) {
    fakeLibrary().addDevice(secondDevice);
    refreshSlots();
    const CK_SESSION_HANDLE ro1 = openSession(false, firstSlot);
    const CK_SESSION_HANDLE rw1 = openSession(true, firstSlot);
    const CK_SESSION_HANDLE rw2 = openSession(true, firstSlot + 1);
    login(rw1);
    login(rw2);  // the held PIN: no device call, the second device's sessions follow
    ASSERT_EQ(CKS_RW_USER_FUNCTIONS, state(rw2));

    removeFile(todaysLogFile());
    fakeLibrary().setConnected({secondDevice});
    waitForMonitorPass();
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, state(ro1));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, state(rw1));
    // The second device is still there: its session keeps its state, but the
    // password it relied on is gone.
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, state(rw2));
    EXPECT_FALSE(loggedIn());
    EXPECT_TRUE(logHasDebugLine("Device disconnected, clearing userPassword"));
    // The slot cache is the monitor's to leave alone.
    CK_TOKEN_INFO info;
    EXPECT_EQ(CKR_OK, f()->C_GetTokenInfo(firstSlot, &info));

    // Public sessions of a missing device are left as they are.
    const CK_SESSION_HANDLE ro1b = openSession(false, firstSlot);
    waitForMonitorPass();
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, state(ro1b));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, state(rw1));
}

// Runs C_Finalize (a monitor stop takes up to a second) and C_Initialize.
TEST_F(SlotEventTest, FinalizeReleasesABlockedWaiterAndARestartPostsAnEvent) {
    settleSlotEvents();
    Waiter waiter;
    EXPECT_FALSE(waiter.finishesWithin(std::chrono::milliseconds(300)));
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    ASSERT_TRUE(waiter.finishesWithin(std::chrono::milliseconds(3000)));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, waiter.rv.get());

    CK_SLOT_ID slot = 0;
    CK_ULONG count = 0;
    CK_SLOT_INFO slotInfo;
    CK_TOKEN_INFO tokenInfo;
    CK_MECHANISM_INFO mechanismInfo;
    CK_SESSION_INFO sessionInfo;
    CK_SESSION_HANDLE session = 0;
    CK_UTF8CHAR pin[] = "12345678";
    const CK_RV notInitialised = CKR_CRYPTOKI_NOT_INITIALIZED;
    EXPECT_EQ(notInitialised, f()->C_WaitForSlotEvent(0, &slot, nullptr));
    EXPECT_EQ(notInitialised, f()->C_WaitForSlotEvent(CKF_DONT_BLOCK, nullptr, nullptr));
    EXPECT_EQ(notInitialised, f()->C_GetSlotList(CK_TRUE, nullptr, nullptr));
    EXPECT_EQ(notInitialised, f()->C_GetSlotInfo(firstSlot, &slotInfo));
    EXPECT_EQ(notInitialised, f()->C_GetTokenInfo(firstSlot, &tokenInfo));
    EXPECT_EQ(notInitialised, f()->C_GetMechanismList(firstSlot, nullptr, &count));
    EXPECT_EQ(notInitialised, f()->C_GetMechanismInfo(firstSlot, CKM_SHA256, &mechanismInfo));
    EXPECT_EQ(notInitialised, f()->C_OpenSession(firstSlot, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    EXPECT_EQ(notInitialised, f()->C_CloseSession(0x60000001));
    EXPECT_EQ(notInitialised, f()->C_CloseAllSessions(firstSlot));
    EXPECT_EQ(notInitialised, f()->C_GetSessionInfo(0x60000001, &sessionInfo));
    EXPECT_EQ(notInitialised, f()->C_Login(0x60000001, CKU_USER, pin, 8));
    EXPECT_EQ(notInitialised, f()->C_Logout(0x60000001));
    EXPECT_EQ(notInitialised, f()->C_SetPIN(0x60000001, pin, 8, pin, 8));
    EXPECT_EQ(0u, count);

    // A new monitor starts from a count of 0: the connected device is news.
    removeFile(todaysLogFile());
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    waitForMonitorPass();
    EXPECT_EQ(CKR_OK, poll(&slot));
    EXPECT_EQ(firstSlot, slot);
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot));
    EXPECT_TRUE(logHasDebugLine("Slot event: device count changed from 0 to 1"));
}
