// Slots: the slot list and its cache, slot and token information, the
// constant mechanism table, and slot events from the session monitor (whose
// one-second passes some of these tests wait for).
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <tuple>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

const char* const secondDevice = "ZLM0000002";
// The bit above 32 of an ID (where CK_ULONG has 32 bits: one that makes an unknown ID).
const CK_ULONG bit32 = sizeof(CK_ULONG) == 8 ? static_cast<CK_ULONG>(0x100000000ULL) : 0x100000;
CK_SLOT_INFO slotInfo;
CK_TOKEN_INFO tokenInfo;
CK_MECHANISM_INFO mechanismInfo{7, 7, 7};
CK_ULONG count;
CK_SLOT_ID slot, slots[2] = {0xDEAD, 0xDEAD};

// The serial number C_GetTokenInfo reports for a slot, or the error code.
std::string serialOf(CK_SLOT_ID id) {
    const CK_RV rv = p11()->C_GetTokenInfo(id, &tokenInfo);
    if (rv != CKR_OK) return "rv=" + std::to_string(rv);
    return std::string(reinterpret_cast<char*>(tokenInfo.serialNumber), 16).c_str();
}
// Returns once the monitor has made a full pass that saw the fake's current
// device list (a pass begins with its list query).
void waitForMonitorPass() {
    const std::size_t before = fakeLibrary().callCount("zelmor_getConnectedDeviceList");
    for (int i = 0; i < 150 && fakeLibrary().callCount("zelmor_getConnectedDeviceList") == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}
CK_RV infoOf(CK_MECHANISM_TYPE type) { return p11()->C_GetMechanismInfo(firstSlot, type, &mechanismInfo); }
CK_RV poll() { return p11()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr); }
// A blocking C_WaitForSlotEvent on its own thread, once the monitor has seen
// the devices and a pending event is dropped; not finished after two seconds.
std::future<CK_RV> blockingWait() {
    waitForMonitorPass();
    poll();
    slot = 0;  // written by the wait
    std::future<CK_RV> rv = std::async(std::launch::async, [] { return p11()->C_WaitForSlotEvent(0, &slot, nullptr); });
    EXPECT_EQ(std::future_status::timeout, rv.wait_for(std::chrono::seconds(2)));
    return rv;
}

class SlotsTest : public ModuleTest {};

}  // namespace

// Each call is refused with its first failing check, writing nothing and asking no device.
TEST_F(SlotsTest, RefusalsInCheckOrder) {
    const struct {
        const char* name; CK_RV (*call)(); CK_RV expected;
    } rows[] = {
        {"slot list, no count", [] { return p11()->C_GetSlotList(CK_TRUE, slots, nullptr); }, CKR_ARGUMENTS_BAD},
        {"unknown slot, no info", [] { return p11()->C_GetSlotInfo(firstSlot + 1, nullptr); }, CKR_SLOT_ID_INVALID},
        {"slot below the first", [] { return p11()->C_GetSlotInfo(firstSlot - 1, &slotInfo); }, CKR_SLOT_ID_INVALID},
        {"slot with bit 32", [] { return p11()->C_GetSlotInfo(firstSlot | bit32, &slotInfo); }, CKR_SLOT_ID_INVALID},
        {"token of slot 0", [] { return p11()->C_GetTokenInfo(0, nullptr); }, CKR_SLOT_ID_INVALID},
        {"slot info, no info", [] { return p11()->C_GetSlotInfo(firstSlot, nullptr); }, CKR_ARGUMENTS_BAD},
        {"token info, no info", [] { return p11()->C_GetTokenInfo(firstSlot, nullptr); }, CKR_ARGUMENTS_BAD},
        {"no mechanism count", [] { return p11()->C_GetMechanismList(firstSlot, slots, nullptr); }, CKR_ARGUMENTS_BAD},
        {"mechanism, no info", [] { return p11()->C_GetMechanismInfo(firstSlot, 0x1043, nullptr); }, CKR_ARGUMENTS_BAD},
        {"ECDSA SHA-224", [] { return infoOf(0x1043); }, CKR_MECHANISM_INVALID},
        {"SHA-224", [] { return infoOf(0x255); }, CKR_MECHANISM_INVALID},
        {"vendor defined", [] { return infoOf(0x80000000UL); }, CKR_MECHANISM_INVALID},
        {"mechanism with bit 32", [] { return infoOf(CKM_SHA256_RSA_PKCS | bit32); }, CKR_MECHANISM_INVALID},
        {"event, no slot", [] { return p11()->C_WaitForSlotEvent(CKF_DONT_BLOCK, nullptr, nullptr); },
         CKR_ARGUMENTS_BAD},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.expected, row.call());
        EXPECT_EQ(0xDEADu, slots[0]);
        EXPECT_EQ(7u, mechanismInfo.flags);
    }
    // Only the monitor asks the device.
    EXPECT_EQ(fakeLibrary().calls().size(), fakeLibrary().callCount("zelmor_getConnectedDeviceList"));
}

// The token structure byte for byte, with texts longer than their fields:
// the label keeps 30 bytes (63 in the slot), the model 15, the serial number
// fills its 16. No clock on the token: utcTime stays blank. The session
// counts are those of the public sessions. The firmware text is read like
// the C run-time reads numbers, major and minor cut to a byte; the remaining
// PIN attempts set the PIN flags.
TEST_F(SlotsTest, SlotAndTokenInfo) {
    const std::string label = "0123456789abcdefghijABCDEFGHIJ0123456789klmnopqrstuvwxyzKLMNOPQRSTUVWX";
    // The firmware text, the major and minor version read from it, the remaining PIN attempts, the token flags.
    const std::tuple<const char*, CK_BYTE, CK_BYTE, int32_t, CK_FLAGS> rows[] = {
        {"2.15", 2, 15, 0, 0x4040D}, {"7", 7, 0, 1, 0x1040D}, {"", 0, 0, 2, 0x1040D}, {"1.300", 1, 44, 3, 0x40D},
        {"V2.1", 0, 1, 10, 0x40D}, {"\r3.\t4", 3, 4, -1, 0x40D}, {"3.4.5", 3, 4, 5, 0x40D}, {"-1.2", 255, 2, 5, 0x40D},
        {"+9.08", 9, 8, 5, 0x40D}, {".5", 0, 5, 5, 0x40D}, {"4.", 4, 0, 5, 0x40D}, {"12abc.7x", 12, 7, 5, 0x40D},
        {"99999999999999999999.1", 255, 1, 5, 0x40D}, {"-99999999999999999999.1", 0, 1, 5, 0x40D},
    };
    for (bool readWrite : {false, true, true}) openSession(readWrite);
    // Label, maker, model; flags (per row); session counts: maximum 0, public 1, maximum read-write 0,
    // read-write 2; PIN length 4 to 63; memory unknown; hardware 1.0. What is not written is zero.
    const CK_ULONG unknown = CK_UNAVAILABLE_INFORMATION;
    CK_TOKEN_INFO expected{"0123456789abcdefghijABCDEFGHIJ", "Trevanic", "ModelNumberTwen", {}, 0, 0, 1, 0, 2, 63, 4,
                           unknown, unknown, unknown, unknown, {1, 0}};
    std::memcpy(expected.serialNumber, "SERIAL0123456789", 16);
    std::memset(expected.utcTime, ' ', sizeof expected.utcTime);
    // The slot description keeps 63 bytes of the label and its terminator.
    CK_SLOT_INFO expectedSlot{{}, "Trevanic", CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE | CKF_HW_SLOT, {1, 0}};
    std::memcpy(expectedSlot.slotDescription, label.data(), 63);
    for (const auto& row : rows) {
        SCOPED_TRACE(std::get<0>(row));
        fakeLibrary().edit([&](FakeState& state) {
            TokenInfo& token = state.devices[defaultDevice].tokenInfo;
            token.serialNumber = "SERIAL0123456789XYZ";
            token.label = label;
            token.model = "ModelNumberTwenty-20";
            token.firmwareVersion = std::get<0>(row);
            token.remainingPinAttempts = std::get<3>(row);
        });
        refreshSlots();
        expected.flags = std::get<4>(row);
        expected.firmwareVersion = {std::get<1>(row), std::get<2>(row)};
        std::memset(&tokenInfo, 0xCC, sizeof tokenInfo);
        ASSERT_EQ(CKR_OK, f()->C_GetTokenInfo(firstSlot, &tokenInfo));
        EXPECT_EQ(0, std::memcmp(&expected, &tokenInfo, sizeof tokenInfo));
        expectedSlot.firmwareVersion = expected.firmwareVersion;
        std::memset(&slotInfo, 0xCC, sizeof slotInfo);
        ASSERT_EQ(CKR_OK, f()->C_GetSlotInfo(firstSlot, &slotInfo));
        EXPECT_EQ(0, std::memcmp(&expectedSlot, &slotInfo, sizeof slotInfo));
    }
}

// The session counts are of the public sessions of all slots: a login moves
// its device's sessions out of them. A device no longer listed has its
// sessions logged out by the monitor, and the held password is dropped; a
// device still listed keeps its sessions' states.
TEST_F(SlotsTest, SessionCountsAndUnplugging) {
    fakeLibrary().addDevice(secondDevice);
    fakeLibrary().addKeyPair(secondDevice, makeFakeKeyPair(0, keyKindRsa2048, "", {}));
    refreshSlots();
    const CK_SESSION_HANDLE readWrite = openSession(true), readOnly = openSession(false);
    const CK_SESSION_HANDLE staying = openSession(true, firstSlot + 1);
    login(staying);
    ASSERT_EQ(CKR_OK, f()->C_GetTokenInfo(firstSlot + 1, &tokenInfo));  // the first device's sessions only
    EXPECT_EQ(1u, tokenInfo.ulSessionCount);
    EXPECT_EQ(1u, tokenInfo.ulRwSessionCount);
    login(readWrite);
    fakeLibrary().setConnected({secondDevice});
    waitForMonitorPass();
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, sessionState(readWrite));
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(readOnly));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, sessionState(staying));
    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    CK_BYTE data[4] = {1}, signature[256];
    CK_ULONG length = sizeof signature;
    ASSERT_EQ(CKR_OK, f()->C_SignInit(staying, &rsa, 0x70000000));
    ASSERT_EQ(CKR_OK, f()->C_Sign(staying, data, sizeof data, signature, &length));
    EXPECT_EQ("", fakeLibrary().calls("zelmor_signHash").at(0).password);
}

// Only a list into a large enough buffer rebuilds the cache, reading the
// devices in the library's order (a device without a token, or unknown, makes
// a slot that names nothing).
TEST_F(SlotsTest, SlotListAndItsCache) {
    for (const char* name : {secondDevice, "ZLM0000003", "ZLM00000"}) fakeLibrary().addDevice(name);
    fakeLibrary().edit([](FakeState& state) { state.devices["ZLM0000004"].tokenInfo.serialNumber.clear(); });
    const std::vector<std::vector<std::string>> rows = {  // the devices listed
        {"ZLM0000003", "ZLM0000001", "ZLM0000002"}, {"ZLM0000002", "ZLM00000"},
        {"ZLM0000001", "ZLM0000004", "ZLM0000003"}, {"UNKNOWN", "ZLM0000003", "ZLM0000001"},
        {"ZLM0000002", "ZLM0000002"}};
    for (const auto& listed : rows) {
        fakeLibrary().setConnected(listed);
        std::vector<CK_SLOT_ID> list(listed.size() + 1, 0xDEAD);
        count = CK_ULONG(listed.size());  // a buffer of just the size needed
        ASSERT_EQ(CKR_OK, f()->C_GetSlotList(CK_FALSE, list.data(), &count));
        ASSERT_EQ(listed.size(), count);
        for (std::size_t i = 0; i <= listed.size(); ++i) {
            const bool named = i < listed.size() && listed[i] != "UNKNOWN" && listed[i] != "ZLM0000004";
            EXPECT_EQ(named ? listed[i] : "rv=3", serialOf(firstSlot + i)) << i;
            EXPECT_EQ(i < listed.size() ? firstSlot + i : 0xDEAD, list[i]);
        }
    }
    // The slot list and the monitor alike ask for the list without a refresh.
    for (const FakeCall& call : fakeLibrary().calls("zelmor_getConnectedDeviceList")) EXPECT_FALSE(call.refresh);
    // A count query or a short buffer reports the device count and leaves the
    // slot cache; no device empties it, with or without a buffer.
    const struct {  // firstSerial: C_GetTokenInfo of the first slot afterwards
        const char* name; std::vector<std::string> connected; bool buffer; CK_ULONG offered;
        CK_RV expected; CK_ULONG count; std::string firstSerial;
    } counts[] = {
        {"count query", {"ZLM0000003", secondDevice}, false, 0, CKR_OK, 2, defaultDevice},
        {"short buffer", {"ZLM0000003", secondDevice}, true, 1, CKR_BUFFER_TOO_SMALL, 2, defaultDevice},
        {"no device, count query", {}, false, 0, CKR_OK, 0, "rv=3"},
        {"no device, with a buffer", {}, true, 2, CKR_OK, 0, "rv=3"},
    };
    for (const auto& row : counts) {
        SCOPED_TRACE(row.name);
        fakeLibrary().setConnected({defaultDevice});
        refreshSlots();
        fakeLibrary().setConnected(row.connected);
        CK_SLOT_ID list[2] = {0xDEAD, 0xDEAD};
        count = row.offered;
        EXPECT_EQ(row.expected, f()->C_GetSlotList(CK_FALSE, row.buffer ? list : nullptr, &count));
        EXPECT_EQ(row.count, count);
        EXPECT_EQ(0xDEADu, list[0]);
        EXPECT_EQ(row.firstSerial, serialOf(firstSlot));
    }
}

// Changes of the device count post one event for the first slot, whatever
// their number before it is collected; a blocking wait takes the next event.
// C_Finalize drops the held password (waking waiters and clearing sessions and
// slots: ConcurrencyTest).
TEST_F(SlotsTest, SlotEventsAndFinalize) {
    std::future<CK_RV> waiter = blockingWait();
    fakeLibrary().addDevice(secondDevice);
    ASSERT_EQ(std::future_status::ready, waiter.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ(CKR_OK, waiter.get());
    EXPECT_EQ(firstSlot, slot);
    EXPECT_EQ(CKR_NO_EVENT, poll());
    fakeLibrary().setConnected({});
    waitForMonitorPass();
    fakeLibrary().setConnected({secondDevice});
    waitForMonitorPass();
    ASSERT_EQ(CKR_OK, poll());
    EXPECT_EQ(CKR_NO_EVENT, poll());
    fakeLibrary().setConnected({defaultDevice});
    refreshSlots();
    login(openSession(true));
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    refreshSlots();
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, sessionState(openSession(false)));
    // A newly started monitor counts from no device, so the connected device
    // posts one event; a list that changes but keeps its length posts none.
    waitForMonitorPass();
    slot = 0;
    EXPECT_EQ(CKR_OK, poll());
    EXPECT_EQ(firstSlot, slot);
    EXPECT_EQ(CKR_NO_EVENT, poll());
    fakeLibrary().setConnected({secondDevice});
    waitForMonitorPass();
    EXPECT_EQ(CKR_NO_EVENT, poll());
}

// A new monitor notes its start once, not at every pass, and asks for the
// device list no more than once a second (one test: both wait for passes).
TEST_F(SlotsTest, MonitorNotesItsStartOnceAndPollsAtMostOnceASecond) {
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    removeFile(todaysLogFile());
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    waitForMonitorPass();
    const std::size_t before = fakeLibrary().callCount("zelmor_getConnectedDeviceList");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_LE(fakeLibrary().callCount("zelmor_getConnectedDeviceList") - before, 3u);
    const std::string log = readFile(todaysLogFile()), started = "::=>Session monitor thread started.\n";
    EXPECT_EQ(log.find(started), log.rfind(started)) << "noted more than once";
    EXPECT_NE(std::string::npos, log.find(started)) << "not noted";
}

// The fifteen mechanisms in their order, and each one's key sizes and flags,
// for any slot ID.
TEST_F(SlotsTest, MechanismTable) {
    const CK_FLAGS pair = CKF_GENERATE_KEY_PAIR, rsa = CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY,
                   sign = CKF_SIGN | CKF_VERIFY, digest = CKF_DIGEST;
    const struct {
        const char* name; CK_MECHANISM_TYPE type; CK_ULONG minimum, maximum; CK_FLAGS flags;
    } rows[] = {
        {"RSA pair", CKM_RSA_PKCS_KEY_PAIR_GEN, 1024, 4096, pair}, {"RSA", CKM_RSA_PKCS, 1024, 4096, rsa},
        {"SHA-1 RSA", CKM_SHA1_RSA_PKCS, 1024, 4096, sign},     {"SHA-256 RSA", CKM_SHA256_RSA_PKCS, 1024, 4096, sign},
        {"SHA-384 RSA", CKM_SHA384_RSA_PKCS, 1024, 4096, sign}, {"SHA-512 RSA", CKM_SHA512_RSA_PKCS, 1024, 4096, sign},
        {"EC pair", CKM_EC_KEY_PAIR_GEN, 256, 521, pair},         {"ECDSA", CKM_ECDSA, 256, 521, sign},
        {"ECDSA SHA-1", CKM_ECDSA_SHA1, 256, 521, sign},          {"ECDSA SHA-256", CKM_ECDSA_SHA256, 256, 521, sign},
        {"ECDSA SHA-384", CKM_ECDSA_SHA384, 256, 521, sign},      {"SHA-1", CKM_SHA_1, 0, 0, digest},
        {"SHA-256", CKM_SHA256, 0, 0, digest},                    {"SHA-384", CKM_SHA384, 0, 0, digest},
        {"SHA-512", CKM_SHA512, 0, 0, digest},
    };
    std::vector<CK_MECHANISM_TYPE> expected, untouched(16, 0xFFFF);
    for (const auto& row : rows) expected.push_back(row.type);
    expected.push_back(0xFFFF);
    // Every call reports the count of fifteen; only a buffer they fit in gets them.
    const struct {
        const char* name; bool list; CK_ULONG offered; CK_RV expected;
    } calls[] = {{"count query", false, 0, CKR_OK}, {"one short", true, 14, CKR_BUFFER_TOO_SMALL},
                 {"exact", true, 15, CKR_OK}, {"larger", true, 16, CKR_OK}};
    for (const auto& call : calls) {
        SCOPED_TRACE(call.name);
        std::vector<CK_MECHANISM_TYPE> listed = untouched;
        count = call.offered;
        EXPECT_EQ(call.expected, f()->C_GetMechanismList(0, call.list ? listed.data() : nullptr, &count));
        EXPECT_EQ(15u, count);
        EXPECT_EQ(call.list && call.expected == CKR_OK ? expected : untouched, listed);
    }
    for (const auto& row : rows) {
        CK_MECHANISM_INFO info{7, 7, 7};
        ASSERT_EQ(CKR_OK, f()->C_GetMechanismInfo(firstSlot + 9, row.type, &info)) << row.name;
        EXPECT_EQ(std::make_tuple(row.minimum, row.maximum, row.flags),
                  std::make_tuple(info.ulMinKeySize, info.ulMaxKeySize, info.flags))
            << row.name;
    }
}
