// The session table: handle allocation and reuse, states and flags, closing,
// and the order of the checks of the session entry points.
#include <cstring>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

constexpr CK_SESSION_HANDLE firstHandle = 0x60000001;

class SessionTableTest : public ModuleTest {
protected:
    CK_SESSION_INFO info(CK_SESSION_HANDLE session) {
        CK_SESSION_INFO result;
        std::memset(&result, 0xCC, sizeof result);
        EXPECT_EQ(CKR_OK, f()->C_GetSessionInfo(session, &result));
        return result;
    }
    CK_RV open(CK_SLOT_ID slot, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session) {
        return f()->C_OpenSession(slot, flags, nullptr, nullptr, session);
    }
};

}  // namespace

TEST_F(SessionTableTest, HandlesAreTheLargestPlusOneAndRestartWhenEmpty) {
    EXPECT_EQ(firstHandle, openSession());
    EXPECT_EQ(firstHandle + 1, openSession());
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(firstHandle + 1));
    EXPECT_EQ(firstHandle + 1, openSession()) << "the largest handle is given again";
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(firstHandle));
    EXPECT_EQ(firstHandle + 2, openSession()) << "a gap below the largest is not refilled";
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CloseSession(firstHandle));
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(firstHandle + 1));
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(firstHandle + 2));
    EXPECT_EQ(firstHandle, openSession()) << "an empty table starts again";
    EXPECT_TRUE(readFile(todaysLogFile()).find("->DEBUG ::=>Opensession  : 1610612737\n") != std::string::npos);
}

TEST_F(SessionTableTest, StatesAndFlagsFollowTheOpenFlagsAndTheLogin) {
    CK_SESSION_HANDLE readOnly = openSession(false);
    CK_SESSION_HANDLE readWrite = openSession(true);
    // The handle is checked before the pointer.
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetSessionInfo(readWrite + 1, nullptr));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetSessionInfo(0, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetSessionInfo(readWrite, nullptr));
    CK_SESSION_INFO ro = info(readOnly);
    EXPECT_EQ(firstSlot, ro.slotID);
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, ro.state);
    EXPECT_EQ(CKF_SERIAL_SESSION, ro.flags);
    EXPECT_EQ(0u, ro.ulDeviceError);
    CK_SESSION_INFO rw = info(readWrite);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, rw.state);
    EXPECT_EQ(CKF_SERIAL_SESSION | CKF_RW_SESSION, rw.flags);

    login(readWrite);
    // Other flag bits are ignored.
    CK_SESSION_HANDLE laterRo = CK_INVALID_HANDLE, laterRw = CK_INVALID_HANDLE;
    ASSERT_EQ(CKR_OK, open(firstSlot, CKF_SERIAL_SESSION | 0x100, &laterRo));
    ASSERT_EQ(CKR_OK, open(firstSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION | 0x8, &laterRw));
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, info(laterRo).state);
    EXPECT_EQ(CKF_SERIAL_SESSION, info(laterRo).flags);
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, info(laterRw).state);
    EXPECT_EQ(CKF_SERIAL_SESSION | CKF_RW_SESSION, info(laterRw).flags);

    // Closing every session keeps the login: the next session starts logged in.
    for (CK_SESSION_HANDLE s : {readOnly, readWrite, laterRo, laterRw}) ASSERT_EQ(CKR_OK, f()->C_CloseSession(s));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, info(openSession(true)).state);
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_validatePassword"));
}

TEST_F(SessionTableTest, OpenSessionChecksSlotThenFlagsThenPointer) {
    CK_SESSION_HANDLE session = 0xABCD;
    EXPECT_EQ(CKR_SLOT_ID_INVALID, open(firstSlot + 1, CKF_RW_SESSION, nullptr));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, open(0, CKF_SERIAL_SESSION, &session));
    EXPECT_EQ(CKR_SESSION_PARALLEL_NOT_SUPPORTED, open(firstSlot, CKF_RW_SESSION, nullptr));
    EXPECT_EQ(CKR_SESSION_PARALLEL_NOT_SUPPORTED, open(firstSlot, 0, &session));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, open(firstSlot, CKF_SERIAL_SESSION, nullptr));
    EXPECT_EQ(0xABCDu, session);
    // Nothing was opened by the failures.
    EXPECT_EQ(firstHandle, openSession());
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getTokenInfo"));
}

TEST_F(SessionTableTest, CloseAllSessionsClosesEverySlotsSessions) {
    fakeLibrary().addDevice("ZLM0000002");
    refreshSlots();
    CK_SESSION_HANDLE first = openSession(true, firstSlot);
    CK_SESSION_HANDLE second = openSession(false, firstSlot + 1);
    EXPECT_EQ(firstSlot + 1, info(second).slotID);

    CK_SESSION_INFO ignored;
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_CloseAllSessions(firstSlot + 2));
    EXPECT_EQ(CKR_OK, f()->C_GetSessionInfo(first, &ignored));

    login(first);
    ASSERT_EQ(CKR_OK, f()->C_CloseAllSessions(firstSlot + 1));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetSessionInfo(first, &ignored));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetSessionInfo(second, &ignored));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CloseSession(second));
    EXPECT_TRUE(readFile(todaysLogFile()).find("->DEBUG ::=>Close all session\n") != std::string::npos);
    // The login survives, and the handles start again.
    CK_SESSION_HANDLE again = openSession(false);
    EXPECT_EQ(firstHandle, again);
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, info(again).state);
}

TEST_F(SessionTableTest, HandlesAbove32BitsNameNoSession) {
    if (sizeof(CK_ULONG) < 8) GTEST_SKIP() << "CK_ULONG is 32-bit here";
    CK_SESSION_HANDLE session = openSession();
    const CK_SESSION_HANDLE high = static_cast<CK_ULONG>(0x100000000ULL) | session;
    CK_SESSION_INFO ignored;
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetSessionInfo(high, &ignored));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CloseSession(high));
    CK_UTF8CHAR pin[] = "12345678";
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_Login(high, CKU_USER, pin, 8));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_Logout(high));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_SetPIN(high, pin, 8, pin, 8));
    EXPECT_EQ(CKR_OK, f()->C_GetSessionInfo(session, &ignored));
}
