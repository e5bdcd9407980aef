// C_GetSlotInfo and C_GetTokenInfo: the structures byte for byte, text field
// cutting, firmware parsing, PIN flags and session counts.
#include <cstring>

#include "SlotTestSupport.h"

using namespace slot_tests;

namespace {

class TokenInfoTest : public ModuleTest {
protected:
    CK_TOKEN_INFO tokenInfo() {
        CK_TOKEN_INFO info;
        std::memset(&info, 0xCC, sizeof info);
        EXPECT_EQ(CKR_OK, f()->C_GetTokenInfo(firstSlot, &info));
        return info;
    }
    CK_SLOT_INFO slotInfo() {
        CK_SLOT_INFO info;
        std::memset(&info, 0xCC, sizeof info);
        EXPECT_EQ(CKR_OK, f()->C_GetSlotInfo(firstSlot, &info));
        return info;
    }
    // Sets the device's token record and rebuilds the slot cache.
    void setToken(const std::string& label, const std::string& model, const std::string& serial,
                  const std::string& firmware, int32_t attempts) {
        fakeLibrary().edit([&](FakeState& state) {
            TokenInfo& token = state.devices[defaultDevice].tokenInfo;
            token.label = label;
            token.model = model;
            token.serialNumber = serial;
            token.firmwareVersion = firmware;
            token.remainingPinAttempts = attempts;
        });
        refreshSlots();
    }
};

void setText(unsigned char* field, const char* value) { std::memcpy(field, value, std::strlen(value)); }

}  // namespace

TEST_F(TokenInfoTest, StructuresMatchByteForByte) {
    setToken("My token", "DSC-7", "SN0001", "2.15", 10);

    CK_SLOT_INFO expectedSlot;
    std::memset(&expectedSlot, 0, sizeof expectedSlot);
    setText(expectedSlot.slotDescription, "My token");
    setText(expectedSlot.manufacturerID, "Trevanic");
    expectedSlot.flags = 7;
    expectedSlot.hardwareVersion = {1, 0};
    expectedSlot.firmwareVersion = {2, 15};
    CK_SLOT_INFO slot = slotInfo();
    EXPECT_EQ(0, std::memcmp(&expectedSlot, &slot, sizeof slot));

    CK_TOKEN_INFO expected;
    std::memset(&expected, 0, sizeof expected);
    setText(expected.label, "My token");
    setText(expected.manufacturerID, "Trevanic");
    setText(expected.model, "DSC-7");
    setText(expected.serialNumber, "SN0001");
    expected.flags = 0x40D;  // no clock on the token: utcTime stays blank
    expected.ulMaxPinLen = 63;
    expected.ulMinPinLen = 4;
    expected.ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    expected.ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    expected.ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    expected.ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    expected.hardwareVersion = {1, 0};
    expected.firmwareVersion = {2, 15};
    std::memset(expected.utcTime, ' ', sizeof expected.utcTime);
    CK_TOKEN_INFO token = tokenInfo();
    EXPECT_EQ(0, std::memcmp(&expected, &token, sizeof token));
    EXPECT_TRUE(logHasDebugLine("C_GetTokenInfo -- exit"));
}

TEST_F(TokenInfoTest, LongTextsAreCutToTheirFields) {
    const std::string label40 = "0123456789abcdefghijABCDEFGHIJ0123456789";
    const std::string label70 = label40 + "klmnopqrstuvwxyzKLMNOPQRSTUVWX";
    const std::string model20 = "ModelNumberTwenty-20";
    const std::string serial16 = "SERIAL0123456789";
    setToken(label70, model20, serial16 + "XYZ", "1", 5);

    CK_TOKEN_INFO token = tokenInfo();
    EXPECT_EQ(label40.substr(0, 30) + std::string(2, '\0'), text(token.label, 32));
    EXPECT_EQ(model20.substr(0, 15) + '\0', text(token.model, 16));
    EXPECT_EQ(serial16, text(token.serialNumber, 16));
    EXPECT_EQ(std::string("Trevanic") + std::string(24, '\0'), text(token.manufacturerID, 32));
    CK_SLOT_INFO slot = slotInfo();
    EXPECT_EQ(label70.substr(0, 63) + '\0', text(slot.slotDescription, 64));

    // Exactly 16 bytes fill the serial field with no terminator.
    setToken(label40, "M", serial16, "1", 5);
    token = tokenInfo();
    EXPECT_EQ(serial16, text(token.serialNumber, 16));
}

TEST_F(TokenInfoTest, FirmwareTextIsParsedLikeTheRuntimeReadsNumbers) {
    struct Case {
        const char* text;
        int major, minor;
    } const cases[] = {
        {"2.15", 2, 15},  {"7", 7, 0},        {"", 0, 0},        {"1.300", 1, 44},
        {"V2.1", 0, 1},   {" 3. 4", 3, 4},    {"3.4.5", 3, 4},   {"-1.2", 255, 2},
        {"+9.08", 9, 8},  {".5", 0, 5},       {"4.", 4, 0},      {"12abc.7x", 12, 7},
        {"99999999999999999999.1", 255, 1},   {"-99999999999999999999.1", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        setToken("L", "M", defaultDevice, c.text, 5);
        CK_TOKEN_INFO token = tokenInfo();
        EXPECT_EQ(c.major, token.firmwareVersion.major);
        EXPECT_EQ(c.minor, token.firmwareVersion.minor);
        CK_SLOT_INFO slot = slotInfo();
        EXPECT_EQ(c.major, slot.firmwareVersion.major);
        EXPECT_EQ(c.minor, slot.firmwareVersion.minor);
    }
}

TEST_F(TokenInfoTest, PinFlagsFollowTheRemainingAttempts) {
    struct Case {
        int32_t attempts;
        CK_FLAGS flags;
    } const cases[] = {{0, 0x4040D}, {1, 0x1040D}, {2, 0x1040D}, {3, 0x40D}, {10, 0x40D}, {-1, 0x40D}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attempts);
        setToken("L", "M", defaultDevice, "1.0", c.attempts);
        EXPECT_EQ(c.flags, tokenInfo().flags);
    }
}

TEST_F(TokenInfoTest, SessionCountsAreThePublicSessionsOfEverySlot) {
    fakeLibrary().addDevice("ZLM0000002");
    refreshSlots();
    openSession(false);
    openSession(false, firstSlot + 1);
    CK_SESSION_HANDLE readWrite = openSession(true);
    CK_TOKEN_INFO token = tokenInfo();
    EXPECT_EQ(2u, token.ulSessionCount);
    EXPECT_EQ(1u, token.ulRwSessionCount);

    // The login moves the first device's sessions to user states; the
    // read-only session of the second device stays public.
    login(readWrite);
    token = tokenInfo();
    EXPECT_EQ(1u, token.ulSessionCount);
    EXPECT_EQ(0u, token.ulRwSessionCount);
}

TEST_F(TokenInfoTest, SlotIsCheckedBeforeTheInfoPointer) {
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_GetSlotInfo(firstSlot + 1, nullptr));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_GetTokenInfo(0, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetSlotInfo(firstSlot, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetTokenInfo(firstSlot, nullptr));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getTokenInfo"));
}
