// Slots: the slot list and its cache, slot and token information, the
// constant mechanism table, and slot events from the session monitor (whose
// one-second passes some of these tests wait for).
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

const char* const secondDevice = "ZLM0000002";
CK_SLOT_INFO slotInfo;
CK_TOKEN_INFO tokenInfo;
CK_MECHANISM_INFO mechanismInfo{7, 7, 7};
CK_ULONG count;
CK_SLOT_ID slots[2] = {0xDEAD, 0xDEAD};

std::string text(const unsigned char* field, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(field), size);
}
// The serial number C_GetTokenInfo reports for slot, or the error code.
std::string serialOf(CK_SLOT_ID slot) {
    const CK_RV rv = p11()->C_GetTokenInfo(slot, &tokenInfo);
    return rv != CKR_OK ? "rv=" + std::to_string(rv) : text(tokenInfo.serialNumber, 16).c_str();
}
// C_GetSlotList into a buffer of `size` (which rebuilds the cache); returns what it wrote.
std::vector<CK_SLOT_ID> listInto(CK_ULONG size, CK_RV expected = CKR_OK) {
    std::vector<CK_SLOT_ID> list(size, 0xDEAD);
    EXPECT_EQ(expected, p11()->C_GetSlotList(CK_FALSE, list.data(), &size));
    list.resize(expected == CKR_OK ? size : 0);
    return list;
}
// Returns once the monitor has made a full pass that saw the fake's current
// device list (a pass begins with its list query).
void waitForMonitorPass() {
    const std::size_t before = fakeLibrary().callCount("zelmor_getConnectedDeviceList");
    for (int i = 0; i < 150 && fakeLibrary().callCount("zelmor_getConnectedDeviceList") == before; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}
CK_RV poll(CK_SLOT_ID* slot) { return p11()->C_WaitForSlotEvent(CKF_DONT_BLOCK, slot, nullptr); }
// A blocking C_WaitForSlotEvent on its own thread, started once the monitor has seen the devices and any pending event is dropped.
struct Waiter {
    CK_SLOT_ID slot = 0;
    std::future<CK_RV> rv = std::async(std::launch::async, [this] {
        waitForMonitorPass();
        poll(&slot);
        return p11()->C_WaitForSlotEvent(0, &slot, nullptr);
    });
    bool finishesWithin(int milliseconds) {
        return rv.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready;
    }
};

class SlotsTest : public ModuleTest {};

}  // namespace

// Each call refused with the first failing check, touching no output and asking no device.
TEST_F(SlotsTest, RefusalsInCheckOrder) {
    const struct {
        CK_RV (*call)();
        CK_RV expected;
    } rows[] = {
        {[] { return p11()->C_GetSlotList(CK_TRUE, slots, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_GetSlotList(CK_TRUE, nullptr, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_GetSlotInfo(firstSlot + 1, nullptr); }, CKR_SLOT_ID_INVALID},
        {[] { return p11()->C_GetSlotInfo(firstSlot - 1, &slotInfo); }, CKR_SLOT_ID_INVALID},
        {[] { return p11()->C_GetTokenInfo(0, nullptr); }, CKR_SLOT_ID_INVALID},
        {[] { return p11()->C_GetSlotInfo(firstSlot, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_GetTokenInfo(firstSlot, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_GetMechanismList(firstSlot, slots, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_GetMechanismList(firstSlot, nullptr, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_GetMechanismInfo(firstSlot, 0x1043, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_WaitForSlotEvent(CKF_DONT_BLOCK, nullptr, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_WaitForSlotEvent(0, nullptr, nullptr); }, CKR_ARGUMENTS_BAD},
        {[] { return p11()->C_WaitForSlotEvent(0xFFFF, nullptr, nullptr); }, CKR_ARGUMENTS_BAD},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        EXPECT_EQ(row.expected, row.call());
        EXPECT_EQ(0xDEADu, slots[0]);
    }
    // IDs and types with bits above 32 name nothing (where CK_ULONG has 32 bits: other unknown values).
    const CK_ULONG high = sizeof(CK_ULONG) == 8 ? static_cast<CK_ULONG>(0x100000000ULL) : 0x1043;
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_GetSlotInfo(firstSlot | high, &slotInfo));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_GetTokenInfo(firstSlot | high, &tokenInfo));
    for (CK_MECHANISM_TYPE type : {0x1043UL, 0x255UL, 0xDUL, 0x1046UL, 0x80000000UL, CKM_SHA256_RSA_PKCS | high}) {
        EXPECT_EQ(CKR_MECHANISM_INVALID, f()->C_GetMechanismInfo(firstSlot, type, &mechanismInfo)) << type;
        EXPECT_EQ(7u, mechanismInfo.flags);
    }
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getTokenInfo"));
}

// The fifteen mechanisms in order and their info, the same for any slot ID,
// answered without the device.
TEST_F(SlotsTest, MechanismTable) {
    const struct {
        CK_MECHANISM_TYPE type;
        CK_ULONG minKeySize, maxKeySize;
        CK_FLAGS flags;
    } table[] = {
        {0x0, 1024, 4096, 0x10000}, {0x1, 1024, 4096, 0x2B00}, {0x6, 1024, 4096, 0x2800}, {0x40, 1024, 4096, 0x2800},
        {0x41, 1024, 4096, 0x2800}, {0x42, 1024, 4096, 0x2800}, {0x1040, 256, 521, 0x10000}, {0x1041, 256, 521, 0x2800},
        {0x1042, 256, 521, 0x2800}, {0x1044, 256, 521, 0x2800}, {0x1045, 256, 521, 0x2800}, {0x220, 0, 0, 0x400},
        {0x250, 0, 0, 0x400}, {0x260, 0, 0, 0x400}, {0x270, 0, 0, 0x400},
    };
    for (CK_SLOT_ID slot : {firstSlot, CK_SLOT_ID(0)}) {
        std::vector<CK_MECHANISM_TYPE> list(16, 0xFFFF);
        for (CK_ULONG size : {0, 14}) {
            count = size;
            EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetMechanismList(slot, size ? list.data() : slots, &count));
            EXPECT_EQ(15u, count);
        }
        EXPECT_EQ(0xFFFFu, list[0]);
        ASSERT_EQ(CKR_OK, f()->C_GetMechanismList(slot, nullptr, &count));
        count = 16;
        ASSERT_EQ(CKR_OK, f()->C_GetMechanismList(slot, list.data(), &count));
        EXPECT_EQ(15u, count);
        EXPECT_EQ(0xFFFFu, list[15]);
        for (std::size_t i = 0; i < 15; ++i) {
            EXPECT_EQ(table[i].type, list[i]) << i;
            ASSERT_EQ(CKR_OK, f()->C_GetMechanismInfo(slot, table[i].type, &mechanismInfo));
            EXPECT_EQ(table[i].minKeySize, mechanismInfo.ulMinKeySize) << i;
            EXPECT_EQ(table[i].maxKeySize, mechanismInfo.ulMaxKeySize) << i;
            EXPECT_EQ(table[i].flags, mechanismInfo.flags) << i;
        }
    }
    EXPECT_EQ(fakeLibrary().calls().size(), fakeLibrary().callCount("zelmor_getConnectedDeviceList"));
}

// Both structures byte for byte, with texts longer than their fields: the
// label keeps 30 bytes in the token and 63 in the slot, the model 15, the
// serial number fills its 16. No clock on the token: utcTime stays blank.
TEST_F(SlotsTest, SlotAndTokenInfoByteForByte) {
    const std::string label = "0123456789abcdefghijABCDEFGHIJ0123456789klmnopqrstuvwxyzKLMNOPQRSTUVWX";
    fakeLibrary().edit([&](FakeState& state) {
        TokenInfo& token = state.devices[defaultDevice].tokenInfo;
        token.label = label;
        token.model = "ModelNumberTwenty-20";
        token.serialNumber = "SERIAL0123456789XYZ";
        token.firmwareVersion = "2.15";
        token.remainingPinAttempts = 10;
    });
    refreshSlots();
    CK_SLOT_INFO expectedSlot{};
    std::memcpy(expectedSlot.slotDescription, label.data(), 63);
    std::memcpy(expectedSlot.manufacturerID, "Trevanic", 8);
    expectedSlot.flags = 7;
    expectedSlot.hardwareVersion = {1, 0};
    expectedSlot.firmwareVersion = {2, 15};
    std::memset(&slotInfo, 0xCC, sizeof slotInfo);
    ASSERT_EQ(CKR_OK, f()->C_GetSlotInfo(firstSlot, &slotInfo));
    EXPECT_EQ(0, std::memcmp(&expectedSlot, &slotInfo, sizeof slotInfo));

    CK_TOKEN_INFO expected{};
    std::memcpy(expected.label, label.data(), 30);
    std::memcpy(expected.manufacturerID, "Trevanic", 8);
    std::memcpy(expected.model, "ModelNumberTwen", 15);
    std::memcpy(expected.serialNumber, "SERIAL0123456789", 16);
    expected.flags = 0x40D;
    expected.ulMaxPinLen = 63;
    expected.ulMinPinLen = 4;
    expected.ulTotalPublicMemory = expected.ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    expected.ulTotalPrivateMemory = expected.ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    expected.hardwareVersion = {1, 0};
    expected.firmwareVersion = {2, 15};
    std::memset(expected.utcTime, ' ', sizeof expected.utcTime);
    std::memset(&tokenInfo, 0xCC, sizeof tokenInfo);
    ASSERT_EQ(CKR_OK, f()->C_GetTokenInfo(firstSlot, &tokenInfo));
    EXPECT_EQ(0, std::memcmp(&expected, &tokenInfo, sizeof tokenInfo));
    EXPECT_TRUE(logHasLine("C_GetTokenInfo -- exit"));
}

// The firmware text is read like the C run-time reads numbers (major and
// minor cut to a byte); the remaining PIN attempts set the PIN flags.
TEST_F(SlotsTest, FirmwareVersionAndPinFlags) {
    const struct {
        const char* firmware;
        int major, minor, attempts;
        CK_FLAGS flags;
    } rows[] = {
        {"2.15", 2, 15, 0, 0x4040D}, {"7", 7, 0, 1, 0x1040D}, {"", 0, 0, 2, 0x1040D}, {"1.300", 1, 44, 3, 0x40D},
        {"V2.1", 0, 1, 10, 0x40D}, {"\r3.\t4", 3, 4, -1, 0x40D}, {"3.4.5", 3, 4, 5, 0x40D}, {"-1.2", 255, 2, 5, 0x40D},
        {"+9.08", 9, 8, 5, 0x40D}, {".5", 0, 5, 5, 0x40D}, {"4.", 4, 0, 5, 0x40D}, {"12abc.7x", 12, 7, 5, 0x40D},
        {"99999999999999999999.1", 255, 1, 5, 0x40D}, {"-99999999999999999999.1", 0, 1, 5, 0x40D},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.firmware);
        fakeLibrary().edit([&](FakeState& state) {
            state.devices[defaultDevice].tokenInfo.firmwareVersion = row.firmware;
            state.devices[defaultDevice].tokenInfo.remainingPinAttempts = row.attempts;
        });
        refreshSlots();
        ASSERT_EQ(CKR_OK, f()->C_GetTokenInfo(firstSlot, &tokenInfo));
        ASSERT_EQ(CKR_OK, f()->C_GetSlotInfo(firstSlot, &slotInfo));
        EXPECT_EQ(row.flags, tokenInfo.flags);
        for (CK_VERSION version : {tokenInfo.firmwareVersion, slotInfo.firmwareVersion}) {
            EXPECT_EQ(row.major, version.major);
            EXPECT_EQ(row.minor, version.minor);
        }
    }
}

// The session counts are those of the public sessions of every slot.
TEST_F(SlotsTest, SessionCounts) {
    fakeLibrary().addDevice(secondDevice);
    refreshSlots();
    openSession(false);
    openSession(false, firstSlot + 1);
    openSession(true, firstSlot + 1);
    openSession(true, firstSlot + 1);
    login(openSession(true));  // the first device's sessions are no longer public
    ASSERT_EQ(CKR_OK, f()->C_GetTokenInfo(firstSlot, &tokenInfo));
    EXPECT_EQ(1u, tokenInfo.ulSessionCount);
    EXPECT_EQ(2u, tokenInfo.ulRwSessionCount);
}

// Only a list into a buffer large enough rebuilds the cache: a count, a
// short buffer, an unplugged or replaced device leave it, and the info
// calls answer from it. No device empties it even on a count call.
TEST_F(SlotsTest, SlotListAndItsCache) {
    fakeLibrary().addDevice(secondDevice);
    EXPECT_TRUE(listInto(1, CKR_BUFFER_TOO_SMALL).empty());
    EXPECT_EQ(0xDEADu, slots[0]);
    count = 0;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetSlotList(CK_TRUE, slots, &count));
    EXPECT_EQ(2u, count);
    fakeLibrary().setConnected({secondDevice});
    ASSERT_EQ(CKR_OK, f()->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(defaultDevice, serialOf(firstSlot));
    EXPECT_EQ("rv=3", serialOf(firstSlot + 1));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getTokenInfo"));
    EXPECT_EQ(std::vector<CK_SLOT_ID>{firstSlot}, listInto(5));
    EXPECT_EQ(secondDevice, serialOf(firstSlot));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_getTokenInfo"));

    removeFile(todaysLogFile());
    fakeLibrary().setConnected({});
    count = 7;
    ASSERT_EQ(CKR_OK, f()->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(0u, count);
    EXPECT_NE(std::string::npos, readFile(todaysLogFile()).find("->ERROR ::=>No valid token found\n"));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_GetSlotInfo(firstSlot, &slotInfo));
}

// Whatever order the device library lists devices in, and whichever of them
// have no token, every slot ID handed out reaches the device at its position.
TEST_F(SlotsTest, SlotIdsReachTheirDeviceForEveryListShape) {
    for (const char* name : {secondDevice, "ZLM0000003", "ZLM00000"}) fakeLibrary().addDevice(name);
    fakeLibrary().edit([](FakeState& state) { state.devices["ZLM0000004"].tokenInfo.serialNumber.clear(); });
    const struct {
        std::vector<std::string> listed, expected;  // expected per slot; "" for a slot that names nothing
    } rows[] = {
        {{"ZLM0000001", "ZLM0000002", "ZLM0000003"}, {"ZLM0000001", "ZLM0000002", "ZLM0000003"}},
        {{"ZLM0000003", "ZLM0000001", "ZLM0000002"}, {"ZLM0000003", "ZLM0000001", "ZLM0000002"}},
        {{"ZLM0000002", "ZLM00000"}, {"ZLM0000002", "ZLM00000"}},
        {{"ZLM0000001", "ZLM0000004", "ZLM0000003"}, {"ZLM0000001", "", "ZLM0000003"}},
        {{"ZLM0000004", "ZLM0000002"}, {"", "ZLM0000002"}},
        {{"UNKNOWN", "ZLM0000003", "ZLM0000001"}, {"", "ZLM0000003", "ZLM0000001"}},
        {{"ZLM0000002", "ZLM0000002"}, {"ZLM0000002", "ZLM0000002"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.listed));
        fakeLibrary().setConnected(row.listed);
        const std::vector<CK_SLOT_ID> list = listInto(CK_ULONG(row.listed.size()));
        ASSERT_EQ(row.listed.size(), list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(firstSlot + i, list[i]);
            EXPECT_EQ(row.expected[i].empty() ? "rv=3" : row.expected[i], serialOf(list[i])) << i;
            if (row.expected[i].empty()) continue;
            CK_SESSION_INFO info;
            ASSERT_EQ(CKR_OK, f()->C_GetSessionInfo(openSession(false, list[i]), &info));
            EXPECT_EQ(list[i], info.slotID);
        }
        EXPECT_EQ("rv=3", serialOf(firstSlot + list.size()));
    }
}

// Changes of the device count post one event for the first slot, whatever
// their number before it is collected; a list that changes but keeps its
// length posts nothing. A blocking wait takes the next event.
TEST_F(SlotsTest, DeviceCountChangesPostOneEvent) {
    waitForMonitorPass();
    CK_SLOT_ID slot = 0;
    poll(&slot);
    fakeLibrary().addDevice(secondDevice);
    waitForMonitorPass();
    fakeLibrary().setConnected({});
    waitForMonitorPass();
    ASSERT_EQ(CKR_OK, poll(&slot));
    EXPECT_EQ(firstSlot, slot);
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot));
    fakeLibrary().setConnected({secondDevice});
    waitForMonitorPass();
    fakeLibrary().setConnected({defaultDevice});
    waitForMonitorPass();
    EXPECT_EQ(CKR_OK, poll(&slot));
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot));
    for (const char* line : {"Slot event: device count changed from 1 to 2", "Slot event: device count changed from 2 to 0",
                             "C_WaitForSlotEvent: non-blocking, returning slot 1342177281"}) {
        EXPECT_TRUE(logHasLine(line)) << line;
    }

    slot = 0;
    Waiter waiter;
    EXPECT_FALSE(waiter.finishesWithin(2000));
    fakeLibrary().addDevice(secondDevice);
    ASSERT_TRUE(waiter.finishesWithin(5000));
    EXPECT_EQ(CKR_OK, waiter.rv.get());
    EXPECT_EQ(firstSlot, waiter.slot);
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot));
    EXPECT_TRUE(logHasLine("C_WaitForSlotEvent: blocking, returning slot 1342177281"));
}

// The monitor logs out the sessions of an unplugged device and drops the
// held password; the still connected device's sessions keep their states,
// public sessions of a missing device stay public, the slot cache stays.
TEST_F(SlotsTest, UnpluggedDevicesSessionsAreLoggedOut) {
    fakeLibrary().addDevice(secondDevice);
    refreshSlots();
    const CK_SESSION_HANDLE ro1 = openSession(false, firstSlot), rw1 = openSession(true, firstSlot);
    const CK_SESSION_HANDLE rw2 = openSession(true, firstSlot + 1);
    login(rw1);
    login(rw2);  // the held PIN: no device call, the second device's sessions follow
    removeFile(todaysLogFile());
    fakeLibrary().setConnected({secondDevice});
    waitForMonitorPass();
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(ro1));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(rw1));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, sessionState(rw2));
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(openSession(false, firstSlot + 1)));
    EXPECT_TRUE(logHasLine("Device disconnected, clearing userPassword"));
    EXPECT_EQ(CKR_OK, f()->C_GetTokenInfo(firstSlot, &tokenInfo));
}

// C_Finalize releases a blocked waiter and clears the sessions, the password
// and the slot cache; the new monitor starts from a count of 0, so the
// connected device is news.
TEST_F(SlotsTest, FinalizeReleasesAWaiterAndClearsEverything) {
    login(openSession(true));
    Waiter waiter;
    EXPECT_FALSE(waiter.finishesWithin(2000));
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    ASSERT_TRUE(waiter.finishesWithin(3000));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, waiter.rv.get());
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_WaitForSlotEvent(0, &slot, nullptr));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_GetMechanismList(firstSlot, nullptr, &count));

    removeFile(todaysLogFile());
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    EXPECT_EQ("rv=3", serialOf(firstSlot));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CloseSession(0x60000001));
    waitForMonitorPass();
    EXPECT_EQ(CKR_OK, poll(&slot));
    EXPECT_EQ(firstSlot, slot);
    EXPECT_EQ(CKR_NO_EVENT, poll(&slot));
    EXPECT_TRUE(logHasLine("Slot event: device count changed from 0 to 1"));
    refreshSlots();
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(openSession(false)));
}
