// Sessions and the login: the check order of each entry point per login
// state, handle allocation, the session states of every device's sessions,
// the device's answers and the password the module holds.
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

using S = CK_SESSION_HANDLE;
constexpr S firstHandle = 0x60000001;
const char* const secondDevice = "ZLM0000002";
// The bit above 32 of a handle, slot ID or length (0 where CK_ULONG has 32 bits).
const CK_ULONG bit32 = sizeof(CK_ULONG) == 8 ? static_cast<CK_ULONG>(0x100000000ULL) : 0;
// The ID with a bit above 32 set (where CK_ULONG has 32 bits: another unknown ID).
CK_ULONG wide(CK_ULONG id) { return bit32 != 0 ? id | bit32 : id + 2; }
CK_UTF8CHAR pin8[] = "12345678", pin64[65] = "1234567890123456789012345678901234567890123456789012345678901234";
S untouched;
CK_SESSION_INFO info;

CK_RV tryLogin(S session, std::string pin) {
    return p11()->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), CK_ULONG(pin.size()));
}
CK_RV setPin(S session, std::string oldPin, std::string newPin) {
    return p11()->C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(&oldPin[0]), CK_ULONG(oldPin.size()),
                           reinterpret_cast<CK_UTF8CHAR_PTR>(&newPin[0]), CK_ULONG(newPin.size()));
}
CK_RV open(CK_SLOT_ID slot, CK_FLAGS flags, S* session) {
    return p11()->C_OpenSession(slot, flags, nullptr, nullptr, session);
}
// C_Login and C_SetPIN on a session, or (offset 1) on the handle after it.
std::function<CK_RV(S)> logIn(CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length, S offset = 0) {
    return [=](S s) { return p11()->C_Login(s + offset, user, pin, length); };
}
std::function<CK_RV(S)> changePin(CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
                                  CK_ULONG newLength, S offset = 0) {
    return [=](S s) { return p11()->C_SetPIN(s + offset, oldPin, oldLength, newPin, newLength); };
}
bool logHas(const std::string& text) { return readFile(todaysLogFile()).find(text) != std::string::npos; }

class SessionsTest : public ModuleTest {};

}  // namespace

// Calls refused before the device is asked: they open, close, log in or out
// nothing.
TEST_F(SessionsTest, RefusalsPerLoginStateInCheckOrder) {
    const struct {
        const char* name;
        bool loggedIn, readWrite;
        std::function<CK_RV(S)> call;
        CK_RV expected;
    } rows[] = {
        {"login, unknown session", false, true, logIn(7, nullptr, 0, 1), CKR_SESSION_HANDLE_INVALID},
        {"login as SO", false, true, logIn(CKU_SO, nullptr, 0), CKR_USER_TYPE_INVALID},
        {"login without a PIN", false, true, logIn(CKU_USER, nullptr, 0), CKR_ARGUMENTS_BAD},
        {"login, PIN of 3 bytes", false, true, logIn(CKU_USER, pin8, 3), CKR_PIN_LEN_RANGE},
        {"login, PIN of 64 bytes", false, true, logIn(CKU_USER, pin64, 64), CKR_PIN_LEN_RANGE},
        {"login, PIN length above 32 bits", false, true, logIn(CKU_USER, pin8, bit32 ? bit32 + 8 : 0),
         CKR_PIN_LEN_RANGE},
        {"login as SO when logged in", true, true, logIn(CKU_SO, nullptr, 0), CKR_USER_TYPE_INVALID},
        {"login again", true, true, logIn(CKU_USER, nullptr, 0), CKR_USER_ALREADY_LOGGED_IN},
        {"login again, read-only, wrong PIN", true, false, [](S s) { return tryLogin(s, "wrong-pin"); },
         CKR_USER_ALREADY_LOGGED_IN},
        {"logout without login", false, true, [](S s) { return p11()->C_Logout(s); }, CKR_USER_NOT_LOGGED_IN},
        {"set PIN, unknown session", false, true, changePin(nullptr, 0, nullptr, 0, 1), CKR_SESSION_HANDLE_INVALID},
        {"set PIN, read-only", false, false, changePin(nullptr, 0, nullptr, 0), CKR_SESSION_READ_ONLY},
        {"set PIN, read-only, logged in", true, false, changePin(pin8, 8, pin8, 8), CKR_SESSION_READ_ONLY},
        {"set PIN without PINs", false, true, changePin(nullptr, 3, nullptr, 3), CKR_ARGUMENTS_BAD},
        {"set PIN, old PIN of 3 bytes", false, true, changePin(pin8, 3, nullptr, 3), CKR_PIN_LEN_RANGE},
        {"set PIN without the new PIN", false, true, changePin(pin8, 8, nullptr, 3), CKR_ARGUMENTS_BAD},
        {"set PIN, new PIN of 64 bytes", false, true, changePin(pin8, 8, pin64, 64), CKR_PIN_LEN_RANGE},
        {"open, unknown slot", false, true, [](S) { return open(firstSlot + 1, CKF_RW_SESSION, nullptr); },
         CKR_SLOT_ID_INVALID},
        {"open without the serial flag", false, true, [](S) { return open(firstSlot, CKF_RW_SESSION, nullptr); },
         CKR_SESSION_PARALLEL_NOT_SUPPORTED},
        {"open without a handle pointer", false, true, [](S) { return open(firstSlot, CKF_SERIAL_SESSION, nullptr); },
         CKR_ARGUMENTS_BAD},
        {"session info without a pointer", false, true, [](S s) { return p11()->C_GetSessionInfo(s, nullptr); },
         CKR_ARGUMENTS_BAD},
        {"close all, unknown slot", true, true, [](S) { return p11()->C_CloseAllSessions(firstSlot + 1); },
         CKR_SLOT_ID_INVALID},
        // Handles and slot IDs with bits above 32 name nothing.
        {"session info, handle above 32 bits", true, true, [](S s) { return p11()->C_GetSessionInfo(wide(s), &info); },
         CKR_SESSION_HANDLE_INVALID},
        {"close all, slot above 32 bits", true, true, [](S) { return p11()->C_CloseAllSessions(wide(firstSlot)); },
         CKR_SLOT_ID_INVALID},
    };
    for (const auto& [name, loggedIn, readWrite, call, expected] : rows) {
        SCOPED_TRACE(name);
        f()->C_CloseAllSessions(firstSlot);
        const S session = openSession(readWrite);
        if (loggedIn) login(session);
        fakeLibrary().clearCalls();
        EXPECT_EQ(expected, call(session));
        EXPECT_EQ(fakeLibrary().calls().size(), fakeLibrary().callCount("zelmor_getConnectedDeviceList"));
        EXPECT_EQ(firstHandle + 1, openSession(false));
        EXPECT_EQ(loggedIn ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION, sessionState(firstHandle + 1));
        if (loggedIn) f()->C_Logout(session);
    }
}

// The device checks a PIN of 4 to 63 bytes once: a later login with the held
// password asks it no more. C_SetPIN passes both PINs to the device and logs
// in nobody; while logged in, the held password survives a failed change and
// follows a successful one.
TEST_F(SessionsTest, DeviceChecksAndTheHeldPassword) {
    fakeLibrary().addDevice(secondDevice, "Publ1cPinSecret");
    fakeLibrary().addDevice("ZLM0000003", "N3wPinSecret");
    refreshSlots();
    const S first = openSession(true), second = openSession(true, firstSlot + 1);
    const S third = openSession(true, firstSlot + 2);
    const std::string pin63(63, 'p');
    ASSERT_EQ(CKR_OK, setPin(first, defaultPin, pin63));
    ASSERT_EQ(CKR_OK, setPin(first, pin63, "Publ1cPinSecret"));
    const FakeCall change = fakeLibrary().calls("zelmor_changeUserPassword").back();
    EXPECT_EQ("Publ1cPinSecret", change.newPassword);
    EXPECT_FALSE(change.changeFlag1);
    EXPECT_FALSE(change.changeFlag2);
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(openSession(false)));  // nobody logged in, no password held
    EXPECT_EQ(CKR_PIN_INCORRECT, tryLogin(first, "Wr0n"));
    login(first, "Publ1cPinSecret");
    EXPECT_EQ(1, fakeLibrary().calls("zelmor_validatePassword").back().userType);  // the user's password
    EXPECT_EQ(CKR_FUNCTION_FAILED, setPin(first, "0ldPinWrong", "N3werPinSecret"));
    fakeLibrary().clearCalls();
    ASSERT_EQ(CKR_OK, tryLogin(second, "Publ1cPinSecret"));
    ASSERT_EQ(CKR_OK, setPin(first, "Publ1cPinSecret", "N3wPinSecret"));
    ASSERT_EQ(CKR_OK, tryLogin(third, "N3wPinSecret"));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_validatePassword"));
}

// A wrong PIN spends a try (the fake answers with one fewer); the device's
// failures change no session state and leave nobody logged in.
TEST_F(SessionsTest, DeviceFailuresMapToPinErrors) {
    const struct {  // forcedResult 0: the fake's own answer; loggedRetries: the retry count logged, -1: none
        const char* name; int32_t triesBefore, forcedResult; CK_RV expected; int loggedRetries;
    } rows[] = {
        {"wrong PIN, tries left", 3, 0, CKR_PIN_INCORRECT, 2},
        {"wrong PIN, last try", 1, 0, CKR_PIN_LOCKED, 0},
        {"device result 48", 10, 48, CKR_FUNCTION_FAILED, -1},
        {"other device result, no retry count", 10, 77, CKR_PIN_LOCKED, 0},
    };
    for (const auto& [name, triesBefore, forcedResult, expected, loggedRetries] : rows) {
        SCOPED_TRACE(name);
        fakeLibrary().edit([&](FakeState& fake) {
            fake.devices[defaultDevice].remainingTries = triesBefore;
            fake.forcedResults.clear();
        });
        if (forcedResult != 0) fakeLibrary().setResult("zelmor_validatePassword", forcedResult);
        const S session = openSession(true);
        removeFile(todaysLogFile());
        EXPECT_EQ(expected, tryLogin(session, "87654321"));
        const std::string retries = ", retry count : " + std::to_string(loggedRetries) + "\n";
        EXPECT_EQ(loggedRetries >= 0, logHas("->ERROR ::=>Token password validation failed" + retries));
        EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(session));
        EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(openSession(false)));  // no password held
    }
}

// Handles: the largest plus one, no gap refilled, from the first again once
// the table is empty. The open flags set state and flags (other bits are
// ignored). A login walks every session of the device (listed twice here:
// two slots) to its user state; a logout walks them back and drops the one
// held password. Closing all sessions, of every slot, keeps the login.
TEST_F(SessionsTest, HandlesAndStates) {
    fakeLibrary().addDevice(secondDevice);
    fakeLibrary().setConnected({defaultDevice, secondDevice, defaultDevice});
    ASSERT_EQ(3u, refreshSlots().size());
    EXPECT_EQ(firstHandle, openSession(false));
    EXPECT_EQ(firstHandle + 1, openSession(true));
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(firstHandle + 1));
    EXPECT_EQ(firstHandle + 1, openSession(true));
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(firstHandle));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CloseSession(firstHandle));
    ASSERT_EQ(CKR_OK, open(firstSlot, CKF_SERIAL_SESSION | 0x100, &untouched));
    ASSERT_EQ(CKR_OK, open(firstSlot + 1, CKF_SERIAL_SESSION | CKF_RW_SESSION | 0x8, &untouched));
    openSession(false, firstSlot + 1);
    openSession(true, firstSlot + 2);
    ASSERT_EQ(CKR_OK, f()->C_GetSessionInfo(firstHandle + 3, &info));
    EXPECT_EQ(CKF_SERIAL_SESSION | CKF_RW_SESSION, info.flags);
    EXPECT_EQ(firstSlot + 1, info.slotID);
    login(firstHandle + 2);  // read-only, first slot
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, sessionState(firstHandle + 5));  // the same device in the third slot
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(firstHandle + 3));  // another device
    EXPECT_EQ(CKR_OK, f()->C_Logout(firstHandle + 5));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(firstHandle + 1));
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(openSession(false)));  // no password held
    login(firstHandle + 1);
    ASSERT_EQ(CKR_OK, f()->C_CloseAllSessions(firstSlot + 1));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GetSessionInfo(firstHandle + 1, &info));
    EXPECT_EQ(firstHandle, openSession(false));
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, sessionState(firstHandle));
}

// A handle that names no open session (none ever, a closed one, one with a
// bit above 32) is refused before the call looks at its arguments.
TEST_F(SessionsTest, AHandleNamingNoSessionComesBeforeTheArguments) {
    const S closed = openSession(false);
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(closed));
    const struct {
        const char* name;
        std::function<CK_RV(S)> call;  // with arguments it would refuse
    } rows[] = {
        {"C_GetSessionInfo", [](S s) { return p11()->C_GetSessionInfo(s, nullptr); }},
        {"C_FindObjectsInit", [](S s) { return p11()->C_FindObjectsInit(s, nullptr, 1); }},
        {"C_GetAttributeValue", [](S s) { return p11()->C_GetAttributeValue(s, 0x70000000, nullptr, 0); }},
        {"C_SetAttributeValue", [](S s) { return p11()->C_SetAttributeValue(s, 0x70000000, nullptr, 0); }},
        {"C_CreateObject", [](S s) { return p11()->C_CreateObject(s, nullptr, 0, nullptr); }},
        {"C_GenerateKeyPair",
         [](S s) { return p11()->C_GenerateKeyPair(s, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
        {"C_GenerateRandom", [](S s) { return p11()->C_GenerateRandom(s, nullptr, 0); }},
    };
    for (const auto& row : rows) {
        for (const S handle : {S(0x6000FFFF), closed, S(wide(firstHandle))}) {
            EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, row.call(handle)) << row.name << " on " << handle;
        }
    }
}
