// C_Login, C_Logout and C_SetPIN: check order, PIN lengths, the device's
// answers, the module-wide login and the session states on each device.
#include <string>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

const char* const secondDevice = "ZLM0000002";

class LoginTest : public ModuleTest {
protected:
    CK_STATE state(CK_SESSION_HANDLE session) {
        CK_SESSION_INFO info{};
        EXPECT_EQ(CKR_OK, f()->C_GetSessionInfo(session, &info));
        return info.state;
    }
    CK_RV tryLogin(CK_SESSION_HANDLE session, std::string pin, CK_USER_TYPE user = CKU_USER) {
        return f()->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]),
                            static_cast<CK_ULONG>(pin.size()));
    }
    CK_RV setPin(CK_SESSION_HANDLE session, std::string oldPin, std::string newPin) {
        return f()->C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(&oldPin[0]),
                             static_cast<CK_ULONG>(oldPin.size()), reinterpret_cast<CK_UTF8CHAR_PTR>(&newPin[0]),
                             static_cast<CK_ULONG>(newPin.size()));
    }
    void setDevicePin(const std::string& device, const std::string& pin, int32_t tries = 10) {
        fakeLibrary().edit([&](FakeState& fake) {
            fake.devices[device].pin = pin;
            fake.devices[device].remainingTries = tries;
        });
    }
    // Whether the module holds a login: a new read-only session opens in a user state.
    bool loggedIn(CK_SLOT_ID slot = firstSlot) {
        CK_SESSION_HANDLE probe = openSession(false, slot);
        bool result = state(probe) == CKS_RO_USER_FUNCTIONS;
        f()->C_CloseSession(probe);
        return result;
    }
    std::string log() { return readFile(todaysLogFile()); }
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(LoginTest, PinLengthBounds) {
    struct Case {
        std::size_t length;
        CK_RV expected;
    } const cases[] = {{0, CKR_PIN_LEN_RANGE}, {3, CKR_PIN_LEN_RANGE}, {4, CKR_OK},
                       {63, CKR_OK},           {64, CKR_PIN_LEN_RANGE}};
    CK_SESSION_HANDLE session = openSession();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string pin(c.length, 'p');
        setDevicePin(defaultDevice, pin);
        fakeLibrary().clearCalls();
        EXPECT_EQ(c.expected, tryLogin(session, pin));
        EXPECT_EQ(c.expected == CKR_OK ? 1u : 0u, fakeLibrary().callCount("zelmor_validatePassword"));
        if (c.expected == CKR_OK) {
            EXPECT_EQ(pin, fakeLibrary().calls("zelmor_validatePassword")[0].password);
            EXPECT_EQ(CKR_OK, f()->C_Logout(session));
        }
        EXPECT_EQ(c.expected, setPin(session, pin, "abcd"));
        EXPECT_EQ(c.expected, setPin(session, "abcd", pin));
    }
    CK_UTF8CHAR pin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
    const CK_ULONG huge = ~CK_ULONG(0);
    EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_Login(session, CKU_USER, pin, huge));
    EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_SetPIN(session, pin, huge, pin, 8));
    EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_SetPIN(session, pin, 8, pin, huge));
    if (sizeof(CK_ULONG) == 8) {
        // 2^32 + 8 is not 8 when cut to 32 bits.
        const CK_ULONG wraps = static_cast<CK_ULONG>(0x100000008ULL);
        EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_Login(session, CKU_USER, pin, wraps));
    }
}

TEST_F(LoginTest, LoginChecksRunInOrderWithoutTheDevice) {
    CK_SESSION_HANDLE session = openSession();
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_Login(session + 1, 7, nullptr, 0));
    EXPECT_EQ(CKR_USER_TYPE_INVALID, f()->C_Login(session, CKU_SO, nullptr, 0));
    EXPECT_EQ(CKR_USER_TYPE_INVALID, f()->C_Login(session, 2, nullptr, 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Login(session, CKU_USER, nullptr, 0));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_validatePassword"));

    login(session);
    EXPECT_EQ(CKR_USER_TYPE_INVALID, f()->C_Login(session, CKU_SO, nullptr, 0)) << "user type comes first";
    EXPECT_EQ(CKR_USER_ALREADY_LOGGED_IN, f()->C_Login(session, CKU_USER, nullptr, 0));
    EXPECT_EQ(CKR_USER_ALREADY_LOGGED_IN, tryLogin(openSession(false), "wrong-pin"));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_validatePassword"));
    EXPECT_TRUE(contains(log(), "->DEBUG ::=>C_Login: User already logged in\n"));

    const FakeCall call = fakeLibrary().calls("zelmor_validatePassword")[0];
    EXPECT_EQ(defaultDevice, call.deviceName);
    EXPECT_EQ(defaultPin, call.password);
    EXPECT_EQ(1, call.number);
}

TEST_F(LoginTest, DeviceFailuresMapToPinErrorsAndChangeNothing) {
    struct Case {
        int32_t triesBefore;  // the fake answers a wrong PIN with one try fewer
        int32_t forcedResult; // 0: the fake's own answer
        CK_RV expected;
        const char* resultLine;
        const char* retryLine;  // null: no retry-count line
    } const cases[] = {
        {3, 0, CKR_PIN_INCORRECT, "Token password validation failed : 1\n",
         "Token password validation failed, retry count : 2\n"},
        {1, 0, CKR_PIN_LOCKED, "Token password validation failed : 1\n",
         "Token password validation failed, retry count : 0\n"},
        {10, 48, CKR_FUNCTION_FAILED, "Token password validation failed : 48\n", nullptr},
        {10, 77, CKR_PIN_LOCKED, "Token password validation failed : 77\n",
         "Token password validation failed, retry count : 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resultLine);
        setDevicePin(defaultDevice, defaultPin, c.triesBefore);
        fakeLibrary().edit([&](FakeState& fake) {
            fake.forcedResults.clear();
            if (c.forcedResult != 0) fake.forcedResults["zelmor_validatePassword"] = c.forcedResult;
        });
        CK_SESSION_HANDLE readOnly = openSession(false);
        CK_SESSION_HANDLE readWrite = openSession(true);
        removeFile(todaysLogFile());

        EXPECT_EQ(c.expected, tryLogin(readWrite, "87654321"));
        const std::string text = log();
        EXPECT_TRUE(contains(text, std::string("->ERROR ::=>") + c.resultLine)) << text;
        if (c.retryLine != nullptr) {
            EXPECT_TRUE(contains(text, std::string("->ERROR ::=>") + c.retryLine)) << text;
        } else {
            EXPECT_FALSE(contains(text, "retry count"));
        }
        EXPECT_EQ(CKS_RO_PUBLIC_SESSION, state(readOnly));
        EXPECT_EQ(CKS_RW_PUBLIC_SESSION, state(readWrite));
        EXPECT_FALSE(loggedIn());
        f()->C_CloseAllSessions(firstSlot);
    }
}

TEST_F(LoginTest, StatesWalkOverEverySessionOfTheDevice) {
    // The first device is listed twice: two slots, one device.
    fakeLibrary().addDevice(secondDevice, "22223333");
    fakeLibrary().setConnected({defaultDevice, secondDevice, defaultDevice});
    ASSERT_EQ(3u, refreshSlots().size());
    const CK_SESSION_HANDLE ro1 = openSession(false, firstSlot);
    const CK_SESSION_HANDLE rw1 = openSession(true, firstSlot);
    const CK_SESSION_HANDLE ro2 = openSession(false, firstSlot + 1);
    const CK_SESSION_HANDLE rw2 = openSession(true, firstSlot + 1);
    const CK_SESSION_HANDLE rw1b = openSession(true, firstSlot + 2);
    auto states = [&] {
        return std::vector<CK_STATE>{state(ro1), state(rw1), state(ro2), state(rw2), state(rw1b)};
    };
    removeFile(todaysLogFile());

    login(ro1);
    EXPECT_EQ((std::vector<CK_STATE>{1, 3, 0, 2, 3}), states());
    EXPECT_TRUE(contains(log(), "->DEBUG ::=>Login state : 0\n"));
    EXPECT_TRUE(contains(log(), "->DEBUG ::=>Login end result : 0\n"));

    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, f()->C_Logout(ro2));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, f()->C_Logout(rw2));
    EXPECT_EQ((std::vector<CK_STATE>{1, 3, 0, 2, 3}), states());

    login(rw2, "22223333");
    EXPECT_EQ((std::vector<CK_STATE>{1, 3, 1, 3, 3}), states());
    EXPECT_TRUE(contains(log(), "->DEBUG ::=>Login state : 2\n"));

    EXPECT_EQ(CKR_OK, f()->C_Logout(rw1b));
    EXPECT_EQ((std::vector<CK_STATE>{0, 2, 1, 3, 2}), states());
    EXPECT_TRUE(contains(log(), "->DEBUG ::=>C_Logout end\n"));
    // The one module-wide password is gone, although the second device's
    // sessions still show their user states.
    EXPECT_FALSE(loggedIn());
    EXPECT_EQ(CKR_OK, f()->C_Logout(ro2));
    EXPECT_EQ((std::vector<CK_STATE>{0, 2, 0, 2, 2}), states());
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, f()->C_Logout(ro2));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_changeUserPassword"));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_Logout(0x60000099));
}

TEST_F(LoginTest, SetPinChecksRunInOrder) {
    CK_UTF8CHAR pin[] = "12345678";
    CK_SESSION_HANDLE readOnly = openSession(false);
    CK_SESSION_HANDLE readWrite = openSession(true);
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_SetPIN(readWrite + 1, nullptr, 0, nullptr, 0));
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_SetPIN(readOnly, nullptr, 0, nullptr, 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SetPIN(readWrite, nullptr, 3, nullptr, 3));
    EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_SetPIN(readWrite, pin, 3, nullptr, 3));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SetPIN(readWrite, pin, 8, nullptr, 3));
    EXPECT_EQ(CKR_PIN_LEN_RANGE, f()->C_SetPIN(readWrite, pin, 8, pin, 3));
    login(readWrite);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, f()->C_SetPIN(readOnly, pin, 8, pin, 8)) << "logged in, still read-only";
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_changeUserPassword"));
}

TEST_F(LoginTest, SetPinOnAPublicSessionKeepsTheModuleLoggedOut) {
    CK_SESSION_HANDLE session = openSession(true);
    ASSERT_EQ(CKR_OK, setPin(session, defaultPin, "new-pin-1"));
    const std::vector<FakeCall> calls = fakeLibrary().calls("zelmor_changeUserPassword");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(defaultDevice, calls[0].deviceName);
    EXPECT_EQ(defaultPin, calls[0].password);
    EXPECT_EQ("new-pin-1", calls[0].text);
    EXPECT_FALSE(calls[0].flag);
    EXPECT_FALSE(loggedIn());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, state(session));
    EXPECT_EQ(CKR_FUNCTION_FAILED, setPin(session, defaultPin, "other-pin"));
}

// A login with the PIN the module holds does not ask the device and moves
// that device's sessions to user states. While logged in, the held password
// follows a successful change and survives a failed one.
TEST_F(LoginTest, SetPinWhileLoggedInReplacesTheHeldPassword) {
    // Public sessions on two other devices show which PIN the module holds.
    fakeLibrary().addDevice(secondDevice, defaultPin);
    fakeLibrary().addDevice("ZLM0000003", "changed-pin");
    refreshSlots();
    CK_SESSION_HANDLE first = openSession(true, firstSlot);
    CK_SESSION_HANDLE probeOld = openSession(false, firstSlot + 1);
    CK_SESSION_HANDLE probeOldRw = openSession(true, firstSlot + 1);
    CK_SESSION_HANDLE probeNew = openSession(true, firstSlot + 2);
    login(first);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, state(probeOldRw));

    EXPECT_EQ(CKR_FUNCTION_FAILED, setPin(first, "wrong-old", "changed-pin"));
    fakeLibrary().clearCalls();
    ASSERT_EQ(CKR_OK, tryLogin(probeOld, defaultPin));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_validatePassword"));
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, state(probeOld));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, state(probeOldRw));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, state(first));

    ASSERT_EQ(CKR_OK, setPin(first, defaultPin, "changed-pin"));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, state(first));
    ASSERT_EQ(CKR_OK, tryLogin(probeNew, "changed-pin"));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_validatePassword"));
}

TEST_F(LoginTest, NoPinReachesTheLog) {
    fakeLibrary().addDevice(secondDevice, "Sec0ndDevPin");
    refreshSlots();
    setDevicePin(defaultDevice, "Log1nPinSecret");
    CK_SESSION_HANDLE session = openSession(true);
    CK_SESSION_HANDLE other = openSession(true, firstSlot + 1);
    EXPECT_EQ(CKR_PIN_INCORRECT, tryLogin(session, "Wr0ngPinSecret"));
    EXPECT_EQ(CKR_OK, tryLogin(session, "Log1nPinSecret"));
    EXPECT_EQ(CKR_OK, tryLogin(other, "Log1nPinSecret"));  // taken from the held password
    EXPECT_EQ(CKR_USER_ALREADY_LOGGED_IN, tryLogin(other, "Log1nPinSecret"));
    EXPECT_EQ(CKR_OK, setPin(session, "Log1nPinSecret", "N3wPinSecret"));
    EXPECT_EQ(CKR_FUNCTION_FAILED, setPin(session, "0ldPinWrong", "N3werPinSecret"));
    EXPECT_EQ(CKR_OK, f()->C_Logout(session));
    const std::string text = log();
    for (const char* secret :
         {"Log1nPinSecret", "Wr0ngPinSecret", "N3wPinSecret", "0ldPinWrong", "N3werPinSecret", "Sec0ndDevPin"}) {
        EXPECT_FALSE(contains(text, secret)) << secret;
    }
}
