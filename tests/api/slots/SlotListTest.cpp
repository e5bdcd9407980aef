// Slot numbering and the slot cache: C_GetSlotList, and which device a slot
// ID reaches in C_GetSlotInfo, C_GetTokenInfo and C_OpenSession.
#include <vector>

#include "SlotTestSupport.h"

using namespace slot_tests;

namespace {

class SlotListTest : public ModuleTest {
protected:
    // The serial number C_GetTokenInfo reports for slot, or the error code.
    std::string serialOf(CK_SLOT_ID slot) {
        CK_TOKEN_INFO info;
        CK_RV rv = f()->C_GetTokenInfo(slot, &info);
        if (rv != CKR_OK) return "rv=" + std::to_string(rv);
        std::string serial = text(info.serialNumber, sizeof info.serialNumber);
        return serial.substr(0, serial.find('\0'));
    }

    std::vector<CK_SLOT_ID> listWithBuffer(CK_ULONG size, CK_RV expected = CKR_OK) {
        std::vector<CK_SLOT_ID> slots(size, 0xDEAD);
        CK_ULONG count = size;
        EXPECT_EQ(expected, f()->C_GetSlotList(CK_FALSE, slots.data(), &count));
        slots.resize(count);
        return slots;
    }
};

}  // namespace

TEST_F(SlotListTest, OneDeviceGivesTheFirstSlotAndCountsFirst) {
    CK_SLOT_ID slots[2];
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetSlotList(CK_TRUE, slots, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetSlotList(CK_TRUE, nullptr, nullptr));
    CK_ULONG count = 99;
    ASSERT_EQ(CKR_OK, f()->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(std::vector<CK_SLOT_ID>{firstSlot}, listWithBuffer(1));
    EXPECT_EQ(defaultDevice, serialOf(firstSlot));
    EXPECT_EQ("rv=3", serialOf(firstSlot + 1));
    EXPECT_EQ("rv=3", serialOf(0));
    EXPECT_EQ("rv=3", serialOf(firstSlot - 1));
    // Only the list asked the device; the info calls answered from the cache.
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_getTokenInfo"));
}

TEST_F(SlotListTest, ShortBufferReportsTheCountAndKeepsTheCache) {
    fakeLibrary().addDevice("ZLM0000002");
    std::vector<CK_SLOT_ID> slots = listWithBuffer(1, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(2u, slots.size());
    EXPECT_EQ(0xDEADu, slots[0]) << "nothing written into a short buffer";
    // The cache still holds the single device of the fixture's refresh.
    EXPECT_EQ(defaultDevice, serialOf(firstSlot));
    EXPECT_EQ("rv=3", serialOf(firstSlot + 1));

    CK_SLOT_ID one = 0;
    CK_ULONG count = 0;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetSlotList(CK_TRUE, &one, &count));
    EXPECT_EQ(2u, count);
    EXPECT_EQ(0u, one);

    EXPECT_EQ((std::vector<CK_SLOT_ID>{firstSlot, firstSlot + 1}), listWithBuffer(5));
    EXPECT_EQ("ZLM0000002", serialOf(firstSlot + 1));
}

TEST_F(SlotListTest, NoDeviceEmptiesTheCacheEvenOnACountCall) {
    removeFile(todaysLogFile());
    fakeLibrary().setConnected({});
    CK_ULONG count = 7;
    ASSERT_EQ(CKR_OK, f()->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(0u, count);
    EXPECT_NE(std::string::npos, readFile(todaysLogFile()).find("->ERROR ::=>No valid token found\n"));
    EXPECT_EQ("rv=3", serialOf(firstSlot));
    CK_SLOT_INFO info;
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_GetSlotInfo(firstSlot, &info));
    EXPECT_TRUE(listWithBuffer(0).empty());
}

// Only a list with a buffer rebuilds the cache: an unplugged or replaced
// device stays reachable until then.
TEST_F(SlotListTest, CacheChangesOnlyWithAListIntoABuffer) {
    fakeLibrary().addDevice("ZLM0000002");
    fakeLibrary().setConnected({"ZLM0000002"});
    CK_ULONG count = 0;
    ASSERT_EQ(CKR_OK, f()->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(defaultDevice, serialOf(firstSlot));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getTokenInfo"));
    EXPECT_NE(CK_INVALID_HANDLE, openSession());
    listWithBuffer(4);
    EXPECT_EQ("ZLM0000002", serialOf(firstSlot));
}

// Whatever order the device library lists devices in, and whichever of them
// have no token, every slot ID handed out reaches the device at its position.
TEST_F(SlotListTest, SlotIdsReachTheirDeviceForEveryListShape) {
    fakeLibrary().addDevice("ZLM0000002");
    fakeLibrary().addDevice("ZLM0000003");
    fakeLibrary().addDevice("ZLM00000");  // a prefix of the others: sorts first
    editToken("ZLM0000004", [](TokenInfo& token) { token.serialNumber.clear(); });  // listed, no token
    struct Case {
        std::vector<std::string> listed;
        std::vector<std::string> expected;  // per slot; "" for a slot that names nothing
    };
    const Case cases[] = {
        {{"ZLM0000001", "ZLM0000002", "ZLM0000003"}, {"ZLM0000001", "ZLM0000002", "ZLM0000003"}},
        {{"ZLM0000003", "ZLM0000001", "ZLM0000002"}, {"ZLM0000003", "ZLM0000001", "ZLM0000002"}},
        {{"ZLM0000002", "ZLM00000"}, {"ZLM0000002", "ZLM00000"}},
        {{"ZLM0000001", "ZLM0000004", "ZLM0000003"}, {"ZLM0000001", "", "ZLM0000003"}},
        {{"ZLM0000004", "ZLM0000002"}, {"", "ZLM0000002"}},
        {{"UNKNOWN", "ZLM0000003", "ZLM0000001"}, {"", "ZLM0000003", "ZLM0000001"}},
        {{"ZLM0000002", "ZLM0000002"}, {"ZLM0000002", "ZLM0000002"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.listed));
        fakeLibrary().setConnected(c.listed);
        std::vector<CK_SLOT_ID> slots = listWithBuffer(static_cast<CK_ULONG>(c.listed.size()));
        ASSERT_EQ(c.listed.size(), slots.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(firstSlot + i, slots[i]);
            EXPECT_EQ(c.expected[i].empty() ? "rv=3" : c.expected[i], serialOf(slots[i])) << "position " << i;
            if (c.expected[i].empty()) continue;
            CK_SESSION_HANDLE session = openSession(false, slots[i]);
            CK_SESSION_INFO info;
            ASSERT_EQ(CKR_OK, f()->C_GetSessionInfo(session, &info));
            EXPECT_EQ(slots[i], info.slotID);
            f()->C_CloseSession(session);
        }
        EXPECT_EQ("rv=3", serialOf(firstSlot + c.listed.size()));
    }
}

TEST_F(SlotListTest, SlotIdsAbove32BitsNameNoSlot) {
    if (sizeof(CK_ULONG) < 8) GTEST_SKIP() << "CK_ULONG is 32-bit here";
    const CK_ULONG high = static_cast<CK_ULONG>(0x100000000ULL) | firstSlot;
    CK_SLOT_INFO slotInfo;
    CK_TOKEN_INFO tokenInfo;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_GetSlotInfo(high, &slotInfo));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_GetTokenInfo(high, &tokenInfo));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_OpenSession(high, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, f()->C_CloseAllSessions(high));
}
