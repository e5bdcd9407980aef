#include "ModuleTest.h"

namespace testing_support {

const char* const defaultDevice = "ZLM0000001";
const char* const defaultPin = "12345678";

void ensureInitialised() {
    CK_INFO info;
    if (p11()->C_GetInfo(&info) == CKR_OK) return;
    ASSERT_EQ(CKR_OK, p11()->C_Initialize(nullptr));
}

CK_STATE sessionState(CK_SESSION_HANDLE session) {
    CK_SESSION_INFO info{};
    EXPECT_EQ(CKR_OK, p11()->C_GetSessionInfo(session, &info));
    return info.state;
}

void ModuleTest::SetUp() {
    ASSERT_TRUE(sharedModule().loaded()) << "cannot load " << modulePath();
    fakeLibrary().reset();
    fakeLibrary().addDevice(defaultDevice, defaultPin);
    ensureInitialised();
    // Leave no session and no login behind from an earlier test.
    refreshSlots();
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    if (f()->C_OpenSession(firstSlot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) == CKR_OK) f()->C_Logout(session);
    f()->C_CloseAllSessions(firstSlot);
    fakeLibrary().clearCalls();
}

void ModuleTest::TearDown() {
    if (standardsModeSet) reinitialiseWithStandardsMode(noStandardsMode);
    refreshSlots();
    f()->C_CloseAllSessions(firstSlot);
}

void ModuleTest::reinitialiseWithStandardsMode(int value) {
    if (value == noStandardsMode) removeStandardsMode();
    else setStandardsMode(static_cast<unsigned>(value));
    standardsModeSet = value != noStandardsMode;
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    refreshSlots();
}

std::vector<CK_SLOT_ID> ModuleTest::refreshSlots() {
    std::vector<CK_SLOT_ID> slots(16);  // more devices than any test connects
    CK_ULONG count = static_cast<CK_ULONG>(slots.size());
    slots.resize(f()->C_GetSlotList(CK_TRUE, slots.data(), &count) == CKR_OK ? count : 0);
    return slots;
}

CK_SESSION_HANDLE ModuleTest::openSession(bool readWrite, CK_SLOT_ID slot) {
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
    EXPECT_EQ(CKR_OK, f()->C_OpenSession(slot, flags, nullptr, nullptr, &session));
    return session;
}

void ModuleTest::login(CK_SESSION_HANDLE session, const std::string& pin) {
    auto text = reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data()));
    ASSERT_EQ(CKR_OK, f()->C_Login(session, CKU_USER, text, static_cast<CK_ULONG>(pin.size())));
}

}  // namespace testing_support
