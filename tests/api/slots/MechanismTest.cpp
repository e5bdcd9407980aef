// C_GetMechanismList and C_GetMechanismInfo: the constant table, for any slot ID.
#include <vector>

#include "SlotTestSupport.h"

using namespace slot_tests;

namespace {

struct Mechanism {
    CK_MECHANISM_TYPE type;
    CK_ULONG minKeySize, maxKeySize;
    CK_FLAGS flags;
};

const std::vector<Mechanism> expectedTable = {
    {0x0, 1024, 4096, 0x10000},   {0x1, 1024, 4096, 0x2B00},    {0x6, 1024, 4096, 0x2800},
    {0x40, 1024, 4096, 0x2800},   {0x41, 1024, 4096, 0x2800},   {0x42, 1024, 4096, 0x2800},
    {0x1040, 256, 521, 0x10000},  {0x1041, 256, 521, 0x2800},   {0x1042, 256, 521, 0x2800},
    {0x1044, 256, 521, 0x2800},   {0x1045, 256, 521, 0x2800},   {0x220, 0, 0, 0x400},
    {0x250, 0, 0, 0x400},         {0x260, 0, 0, 0x400},         {0x270, 0, 0, 0x400},
};

class MechanismTest : public ModuleTest {};

}  // namespace

TEST_F(MechanismTest, ListHasTheFifteenMechanismsInOrderForAnySlot) {
    for (CK_SLOT_ID slot : {firstSlot, CK_SLOT_ID(0), CK_SLOT_ID(0x12345678)}) {
        SCOPED_TRACE(slot);
        CK_ULONG count = 0;
        ASSERT_EQ(CKR_OK, f()->C_GetMechanismList(slot, nullptr, &count));
        EXPECT_EQ(15u, count);
        std::vector<CK_MECHANISM_TYPE> list(16, 0xFFFF);
        count = 16;
        ASSERT_EQ(CKR_OK, f()->C_GetMechanismList(slot, list.data(), &count));
        EXPECT_EQ(15u, count);
        for (std::size_t i = 0; i < expectedTable.size(); ++i) EXPECT_EQ(expectedTable[i].type, list[i]) << i;
        EXPECT_EQ(0xFFFFu, list[15]);
    }
    for (const FakeCall& call : fakeLibrary().calls()) {
        EXPECT_EQ("zelmor_getConnectedDeviceList", call.operation) << "only the monitor calls the device";
    }
}

TEST_F(MechanismTest, ShortBufferAndNullCount) {
    std::vector<CK_MECHANISM_TYPE> list(14, 0xFFFF);
    CK_ULONG count = 14;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetMechanismList(firstSlot, list.data(), &count));
    EXPECT_EQ(15u, count);
    EXPECT_EQ(0xFFFFu, list[0]);
    count = 0;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, f()->C_GetMechanismList(firstSlot, list.data(), &count));
    EXPECT_EQ(15u, count);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetMechanismList(firstSlot, list.data(), nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetMechanismList(firstSlot, nullptr, nullptr));
}

TEST_F(MechanismTest, InfoOfEveryTableEntry) {
    for (const Mechanism& m : expectedTable) {
        SCOPED_TRACE(m.type);
        CK_MECHANISM_INFO info{};
        ASSERT_EQ(CKR_OK, f()->C_GetMechanismInfo(0, m.type, &info));
        EXPECT_EQ(m.minKeySize, info.ulMinKeySize);
        EXPECT_EQ(m.maxKeySize, info.ulMaxKeySize);
        EXPECT_EQ(m.flags, info.flags);
    }
    EXPECT_TRUE(logHasDebugLine("C_GetMechanismInfo -- type : 624"));
    EXPECT_TRUE(logHasDebugLine("C_GetMechanismInfo -- exit"));
}

TEST_F(MechanismTest, UnknownMechanismsAreInvalidAndNothingIsWritten) {
    std::vector<CK_MECHANISM_TYPE> unknown = {0x1043, 0x255, 0xD, 0x1046, 0x80000000UL};
    if (sizeof(CK_ULONG) == 8) unknown.push_back(static_cast<CK_ULONG>(0x100000040ULL));  // CKM_SHA256_RSA_PKCS + 2^32
    for (CK_MECHANISM_TYPE type : unknown) {
        SCOPED_TRACE(type);
        CK_MECHANISM_INFO info{7, 7, 7};
        EXPECT_EQ(CKR_MECHANISM_INVALID, f()->C_GetMechanismInfo(firstSlot, type, &info));
        EXPECT_EQ(7u, info.ulMinKeySize);
        EXPECT_EQ(7u, info.flags);
    }
    // The pointer is checked before the type.
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetMechanismInfo(firstSlot, 0x1043, nullptr));
    removeFile(todaysLogFile());
    CK_MECHANISM_INFO info{};
    f()->C_GetMechanismInfo(firstSlot, 0xD, &info);
    const std::string log = readFile(todaysLogFile());
    EXPECT_NE(std::string::npos, log.find("C_GetMechanismInfo -- type : 13\n"));
    EXPECT_EQ(std::string::npos, log.find("C_GetMechanismInfo -- exit"));
}
