// Sessions and the login: the check order of each entry point per login
// state, handle allocation, the session states of every device's sessions,
// the device's answers and the password the module holds.
#include <string>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

constexpr CK_SESSION_HANDLE firstHandle = 0x60000001;
const char* const secondDevice = "ZLM0000002";
// The bits above 32 of a handle or slot ID (0 where CK_ULONG has 32 bits).
const CK_ULONG above32 = sizeof(CK_ULONG) == 8 ? static_cast<CK_ULONG>(0x100000000ULL) : 0;
CK_UTF8CHAR pin8[] = "12345678";
CK_SESSION_HANDLE untouched;
CK_SESSION_INFO info;

CK_RV tryLogin(CK_SESSION_HANDLE session, std::string pin) {
    return p11()->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), CK_ULONG(pin.size()));
}
CK_RV setPin(CK_SESSION_HANDLE session, std::string oldPin, std::string newPin) {
    return p11()->C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(&oldPin[0]), CK_ULONG(oldPin.size()),
                           reinterpret_cast<CK_UTF8CHAR_PTR>(&newPin[0]), CK_ULONG(newPin.size()));
}
CK_RV open(CK_SLOT_ID slot, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session) {
    return p11()->C_OpenSession(slot, flags, nullptr, nullptr, session);
}
bool logHas(const std::string& text) { return readFile(todaysLogFile()).find(text) != std::string::npos; }
std::size_t deviceCalls() {
    return fakeLibrary().callCount("zelmor_validatePassword") + fakeLibrary().callCount("zelmor_getTokenInfo") +
           fakeLibrary().callCount("zelmor_changeUserPassword");
}

struct Refusal {
    bool loggedIn, readWrite;
    CK_RV (*call)(CK_SESSION_HANDLE);
    CK_RV expected;
};

class SessionsTest : public ModuleTest {
protected:
    void setDevicePin(const std::string& pin, int32_t tries = 10) {
        fakeLibrary().edit([&](FakeState& fake) {
            fake.devices[defaultDevice].pin = pin;
            fake.devices[defaultDevice].remainingTries = tries;
        });
    }
    // Whether the module holds a password: a new read-only session opens in a user state.
    bool loggedIn(CK_SLOT_ID slot = firstSlot) {
        CK_SESSION_HANDLE probe = openSession(false, slot);
        const bool result = sessionState(probe) == CKS_RO_USER_FUNCTIONS;
        f()->C_CloseSession(probe);
        return result;
    }
};

}  // namespace

// Calls refused before the device is asked: they open, close, log in or out nothing.
TEST_F(SessionsTest, RefusalsPerLoginStateInCheckOrder) {
    std::vector<Refusal> rows = {
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_Login(s + 1, 7, nullptr, 0); }, CKR_SESSION_HANDLE_INVALID},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_Login(s, CKU_SO, nullptr, 0); }, CKR_USER_TYPE_INVALID},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_Login(s, 2, nullptr, 0); }, CKR_USER_TYPE_INVALID},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_Login(s, CKU_USER, nullptr, 0); }, CKR_ARGUMENTS_BAD},
        {true, true, [](CK_SESSION_HANDLE s) { return p11()->C_Login(s, CKU_SO, nullptr, 0); }, CKR_USER_TYPE_INVALID},
        {true, true, [](CK_SESSION_HANDLE s) { return p11()->C_Login(s, CKU_USER, nullptr, 0); }, CKR_USER_ALREADY_LOGGED_IN},
        {true, false, [](CK_SESSION_HANDLE s) { return tryLogin(s, "wrong-pin"); }, CKR_USER_ALREADY_LOGGED_IN},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_Logout(s); }, CKR_USER_NOT_LOGGED_IN},
        {false, false, [](CK_SESSION_HANDLE s) { return p11()->C_Logout(s); }, CKR_USER_NOT_LOGGED_IN},
        {true, true, [](CK_SESSION_HANDLE s) { return p11()->C_Logout(s + 0x98); }, CKR_SESSION_HANDLE_INVALID},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_SetPIN(s + 1, nullptr, 0, nullptr, 0); }, CKR_SESSION_HANDLE_INVALID},
        {false, false, [](CK_SESSION_HANDLE s) { return p11()->C_SetPIN(s, nullptr, 0, nullptr, 0); }, CKR_SESSION_READ_ONLY},
        {true, false, [](CK_SESSION_HANDLE s) { return p11()->C_SetPIN(s, pin8, 8, pin8, 8); }, CKR_SESSION_READ_ONLY},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_SetPIN(s, nullptr, 3, nullptr, 3); }, CKR_ARGUMENTS_BAD},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_SetPIN(s, pin8, 3, nullptr, 3); }, CKR_PIN_LEN_RANGE},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_SetPIN(s, pin8, 8, nullptr, 3); }, CKR_ARGUMENTS_BAD},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_SetPIN(s, pin8, 8, pin8, 3); }, CKR_PIN_LEN_RANGE},
        {false, true, [](CK_SESSION_HANDLE) { return open(firstSlot + 1, CKF_RW_SESSION, nullptr); }, CKR_SLOT_ID_INVALID},
        {false, true, [](CK_SESSION_HANDLE) { return open(0, CKF_SERIAL_SESSION, &untouched); }, CKR_SLOT_ID_INVALID},
        {false, true, [](CK_SESSION_HANDLE) { return open(firstSlot, CKF_RW_SESSION, nullptr); }, CKR_SESSION_PARALLEL_NOT_SUPPORTED},
        {false, true, [](CK_SESSION_HANDLE) { return open(firstSlot, 0, &untouched); }, CKR_SESSION_PARALLEL_NOT_SUPPORTED},
        {false, true, [](CK_SESSION_HANDLE) { return open(firstSlot, CKF_SERIAL_SESSION, nullptr); }, CKR_ARGUMENTS_BAD},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_GetSessionInfo(s + 1, nullptr); }, CKR_SESSION_HANDLE_INVALID},
        {false, true, [](CK_SESSION_HANDLE) { return p11()->C_GetSessionInfo(0, nullptr); }, CKR_SESSION_HANDLE_INVALID},
        {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_GetSessionInfo(s, nullptr); }, CKR_ARGUMENTS_BAD},
        {true, true, [](CK_SESSION_HANDLE s) { return p11()->C_CloseSession(s + 1); }, CKR_SESSION_HANDLE_INVALID},
        {true, true, [](CK_SESSION_HANDLE) { return p11()->C_CloseAllSessions(firstSlot + 1); }, CKR_SLOT_ID_INVALID},
    };
    if (above32 != 0) {  // handles and slot IDs with bits above 32 name nothing
        rows.insert(rows.end(), {
            {true, true, [](CK_SESSION_HANDLE s) { return p11()->C_GetSessionInfo(s | above32, &info); }, CKR_SESSION_HANDLE_INVALID},
            {true, true, [](CK_SESSION_HANDLE s) { return p11()->C_CloseSession(s | above32); }, CKR_SESSION_HANDLE_INVALID},
            {false, true, [](CK_SESSION_HANDLE s) { return p11()->C_Login(s | above32, CKU_USER, pin8, 8); }, CKR_SESSION_HANDLE_INVALID},
            {true, true, [](CK_SESSION_HANDLE s) { return p11()->C_Logout(s | above32); }, CKR_SESSION_HANDLE_INVALID},
            {true, true, [](CK_SESSION_HANDLE s) { return p11()->C_SetPIN(s | above32, pin8, 8, pin8, 8); }, CKR_SESSION_HANDLE_INVALID},
            {true, true, [](CK_SESSION_HANDLE) { return open(firstSlot | above32, CKF_SERIAL_SESSION, &untouched); }, CKR_SLOT_ID_INVALID},
            {true, true, [](CK_SESSION_HANDLE) { return p11()->C_CloseAllSessions(firstSlot | above32); }, CKR_SLOT_ID_INVALID},
        });
    }
    for (const Refusal& row : rows) {
        SCOPED_TRACE(&row - rows.data());
        f()->C_CloseAllSessions(firstSlot);
        const CK_SESSION_HANDLE session = openSession(row.readWrite);
        if (row.loggedIn) login(session);
        fakeLibrary().clearCalls();
        untouched = 0xABCD;
        EXPECT_EQ(row.expected, row.call(session));
        EXPECT_EQ(0xABCDu, untouched);
        EXPECT_EQ(0u, deviceCalls());
        // Nothing opened or closed, and the login as it was.
        const CK_SESSION_HANDLE next = openSession(false);
        EXPECT_EQ(firstHandle + 1, next);
        EXPECT_EQ(row.loggedIn ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION, sessionState(next));
        if (row.loggedIn) f()->C_Logout(session);
    }
    EXPECT_TRUE(logHasLine("C_Login: User already logged in"));
}

TEST_F(SessionsTest, PinLengthBounds) {
    const struct {
        std::size_t length;
        CK_RV expected;
    } rows[] = {{0, CKR_PIN_LEN_RANGE}, {3, CKR_PIN_LEN_RANGE}, {4, CKR_OK}, {63, CKR_OK}, {64, CKR_PIN_LEN_RANGE}};
    CK_SESSION_HANDLE session = openSession();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        const std::string pin(row.length, 'p');
        setDevicePin(pin);
        fakeLibrary().clearCalls();
        EXPECT_EQ(row.expected, tryLogin(session, pin));
        const std::vector<FakeCall> calls = fakeLibrary().calls("zelmor_validatePassword");
        ASSERT_EQ(row.expected == CKR_OK ? 1u : 0u, calls.size());
        if (row.expected == CKR_OK) {
            EXPECT_EQ(pin, calls[0].password);
            EXPECT_EQ(defaultDevice, calls[0].deviceName);
            EXPECT_EQ(1, calls[0].number);  // the user's password
            EXPECT_EQ(CKR_OK, f()->C_Logout(session));
        }
        EXPECT_EQ(row.expected, setPin(session, pin, "abcd"));
        EXPECT_EQ(row.expected, setPin(session, "abcd", pin));
    }
    // Lengths that wrap to 8 when cut to 32 bits, or to small ones when added to.
    const CK_ULONG huge = ~CK_ULONG(0), wraps = static_cast<CK_ULONG>(0x100000008ULL);
    for (CK_ULONG length : {huge, wraps == 8 ? huge : wraps}) {
        EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_Login(session, CKU_USER, pin8, length));
        EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_SetPIN(session, pin8, length, pin8, 8));
        EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_SetPIN(session, pin8, 8, pin8, length));
    }
}

// A wrong PIN spends a try (the fake answers with one fewer); the device's
// failures change no session state and leave nobody logged in.
TEST_F(SessionsTest, DeviceFailuresMapToPinErrors) {
    const struct {
        int32_t triesBefore, forcedResult;  // 0: the fake's own answer
        CK_RV expected;
        int loggedResult, loggedRetries;  // -1: no retry count logged
    } rows[] = {{3, 0, CKR_PIN_INCORRECT, 1, 2}, {1, 0, CKR_PIN_LOCKED, 1, 0}, {10, 48, CKR_FUNCTION_FAILED, 48, -1},
                {10, 77, CKR_PIN_LOCKED, 77, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.loggedResult);
        setDevicePin(defaultPin, row.triesBefore);
        fakeLibrary().edit([&](FakeState& fake) { fake.forcedResults.clear(); });
        if (row.forcedResult != 0) fakeLibrary().setResult("zelmor_validatePassword", row.forcedResult);
        const CK_SESSION_HANDLE readOnly = openSession(false), readWrite = openSession(true);
        removeFile(todaysLogFile());
        EXPECT_EQ(row.expected, tryLogin(readWrite, "87654321"));
        const std::string failed = "->ERROR ::=>Token password validation failed";
        EXPECT_TRUE(logHas(failed + " : " + std::to_string(row.loggedResult) + "\n"));
        EXPECT_EQ(row.loggedRetries >= 0, logHas(failed + ", retry count : " + std::to_string(row.loggedRetries) + "\n"));
        EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(readOnly));
        EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(readWrite));
        EXPECT_FALSE(loggedIn());
        f()->C_CloseAllSessions(firstSlot);
    }
}

// Handles: the largest plus one, no gap refilled, from the first again once
// the table is empty. Open flags and the login set state and flags; other
// flag bits are ignored. Closing every session keeps the login.
TEST_F(SessionsTest, HandlesStatesAndClosing) {
    fakeLibrary().addDevice(secondDevice);
    refreshSlots();
    EXPECT_EQ(firstHandle, openSession(false));
    EXPECT_EQ(firstHandle + 1, openSession(true, firstSlot + 1));
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(firstHandle + 1));
    EXPECT_EQ(firstHandle + 1, openSession(true, firstSlot + 1));
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(firstHandle));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CloseSession(firstHandle));
    EXPECT_EQ(firstHandle + 2, openSession(false));
    EXPECT_TRUE(logHasLine("Opensession  : 1610612739"));
    for (CK_SESSION_HANDLE session = firstHandle + 1; session <= firstHandle + 2; ++session) {
        CK_SESSION_INFO info;
        ASSERT_EQ(CKR_OK, f()->C_GetSessionInfo(session, &info));
        const bool rw = session == firstHandle + 1;
        EXPECT_EQ(rw ? firstSlot + 1 : firstSlot, info.slotID);
        EXPECT_EQ(rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION, info.state);
        EXPECT_EQ(rw ? CKF_SERIAL_SESSION | CKF_RW_SESSION : CKF_SERIAL_SESSION, info.flags);
        EXPECT_EQ(0u, info.ulDeviceError);
    }
    login(firstHandle + 2);
    CK_SESSION_HANDLE ro = 0, rw = 0;
    ASSERT_EQ(CKR_OK, open(firstSlot, CKF_SERIAL_SESSION | 0x100, &ro));
    ASSERT_EQ(CKR_OK, open(firstSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION | 0x8, &rw));
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, sessionState(ro));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, sessionState(rw));
    // Closing all sessions of one slot closes those of every slot.
    ASSERT_EQ(CKR_OK, f()->C_CloseAllSessions(firstSlot + 1));
    for (CK_SESSION_HANDLE session = firstHandle + 1; session <= firstHandle + 4; ++session) {
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetSessionInfo(session, &info));
    }
    EXPECT_TRUE(logHasLine("Close all session"));
    EXPECT_EQ(firstHandle, openSession(true));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, sessionState(firstHandle));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_validatePassword"));
}

// A login walks every session of the device to its user state (the first
// device is listed twice: two slots, one device); a logout walks them back
// and drops the one module-wide password, though other devices' sessions
// keep their states.
TEST_F(SessionsTest, StatesWalkOverEverySessionOfTheDevice) {
    fakeLibrary().addDevice(secondDevice, "22223333");
    fakeLibrary().setConnected({defaultDevice, secondDevice, defaultDevice});
    ASSERT_EQ(3u, refreshSlots().size());
    const CK_SESSION_HANDLE sessions[] = {openSession(false, firstSlot), openSession(true, firstSlot),
                                          openSession(false, firstSlot + 1), openSession(true, firstSlot + 1),
                                          openSession(true, firstSlot + 2)};
    auto states = [&] {
        std::vector<CK_STATE> result;
        for (CK_SESSION_HANDLE session : sessions) result.push_back(sessionState(session));
        return result;
    };
    login(sessions[0]);
    EXPECT_EQ((std::vector<CK_STATE>{1, 3, 0, 2, 3}), states());
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, f()->C_Logout(sessions[2]));
    login(sessions[3], "22223333");
    EXPECT_EQ((std::vector<CK_STATE>{1, 3, 1, 3, 3}), states());
    EXPECT_EQ(CKR_OK, f()->C_Logout(sessions[4]));
    EXPECT_EQ((std::vector<CK_STATE>{0, 2, 1, 3, 2}), states());
    EXPECT_FALSE(loggedIn());
    EXPECT_EQ(CKR_OK, f()->C_Logout(sessions[2]));
    EXPECT_EQ((std::vector<CK_STATE>{0, 2, 0, 2, 2}), states());
    for (const char* line : {"Login state : 0", "Login state : 2", "Login end result : 0", "C_Logout end"}) {
        EXPECT_TRUE(logHasLine(line)) << line;
    }
}

// C_SetPIN passes both PINs to the device and logs in nobody. While logged
// in, the held password survives a failed change and follows a successful
// one: a login with it asks no device. No PIN reaches the log.
TEST_F(SessionsTest, SetPinAndTheHeldPassword) {
    fakeLibrary().addDevice(secondDevice, defaultPin);
    fakeLibrary().addDevice("ZLM0000003", "N3wPinSecret");
    refreshSlots();
    const CK_SESSION_HANDLE first = openSession(true), second = openSession(true, firstSlot + 1);
    const CK_SESSION_HANDLE third = openSession(true, firstSlot + 2);
    ASSERT_EQ(CKR_OK, setPin(first, defaultPin, "Publ1cPinSecret"));
    const std::vector<FakeCall> calls = fakeLibrary().calls("zelmor_changeUserPassword");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(defaultDevice, calls[0].deviceName);
    EXPECT_EQ(defaultPin, calls[0].password);
    EXPECT_EQ("Publ1cPinSecret", calls[0].text);
    EXPECT_FALSE(calls[0].flag);
    EXPECT_FALSE(loggedIn());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(first));
    EXPECT_EQ(CKR_FUNCTION_FAILED, setPin(first, defaultPin, "0therPinSecret"));

    EXPECT_EQ(CKR_PIN_INCORRECT, tryLogin(first, "Wr0ngPinSecret"));
    login(first, "Publ1cPinSecret");
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(second));
    EXPECT_EQ(CKR_FUNCTION_FAILED, setPin(first, "0ldPinWrong", "N3werPinSecret"));
    fakeLibrary().clearCalls();
    ASSERT_EQ(CKR_OK, tryLogin(second, "Publ1cPinSecret"));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, sessionState(second));
    ASSERT_EQ(CKR_OK, setPin(first, "Publ1cPinSecret", "N3wPinSecret"));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, sessionState(first));
    ASSERT_EQ(CKR_OK, tryLogin(third, "N3wPinSecret"));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_validatePassword"));
    for (const char* secret : {"Publ1cPinSecret", "Wr0ngPinSecret", "N3wPinSecret", "0ldPinWrong", "N3werPinSecret"}) {
        EXPECT_FALSE(logHas(secret)) << secret;
    }
}
