// The store on disk: device listing, plug state, file modes, damaged folders,
// and interrupted writes.
#include "SimTestSupport.h"

#include "device/DeviceAdministration.h"
#include "device/ResultCodes.h"
#include "store/SecureFiles.h"
#include "store/WriteFaults.h"

#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

using namespace simtest;
namespace result = zelmor::sim::result;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<std::string> filesIn(const std::string& folder) {
    auto names = zelmor::sim::listFolder(folder);
    std::sort(names.begin(), names.end());
    return names;
}

class StoreTest : public SimTest {};

}  // namespace

TEST_F(StoreTest, ListsPluggedDevicesInAscendingByteOrder) {
    for (const char* serial : {"b", "B2", "a", "B10", "_x", "Z"}) createDevice(serial);
    zelmor::sim::setPlugged(zelmor::sim::DeviceStore(storeFolder()), "Z", false);
    ZelmorInstance instance = openInstance();
    EXPECT_EQ(zelmor_getConnectedDeviceList(false, instance),
              (std::vector<std::string>{"B10", "B2", "_x", "a", "b"}));
}

TEST_F(StoreTest, MissingStoreUnknownDeviceOrNullInstanceGivesNothing) {
    ZelmorInstance instance = openInstance();
    EXPECT_TRUE(zelmor_getConnectedDeviceList(true, instance).empty());
    createDevice("S1");
    EXPECT_EQ(zelmor_getConnectedDeviceList(false, instance), std::vector<std::string>{"S1"});
    EXPECT_TRUE(zelmor_getConnectedDeviceList(false, nullptr).empty());
    EXPECT_TRUE(zelmor_getKeyPairList("S1", nullptr).empty());
    EXPECT_EQ(zelmor_initDevice("S1", true, nullptr), result::deviceNotConnected);
    int32_t tries = -1;
    EXPECT_EQ(zelmor_validatePassword("S1", defaultPin, 1, &tries, nullptr), result::deviceNotConnected);
    EXPECT_TRUE(zelmor_getTokenInfo("nope", instance).serialNumber.empty());
    EXPECT_TRUE(zelmor_getTokenInfo(nullptr, instance).serialNumber.empty());
}

TEST_F(StoreTest, UnpluggedDeviceAnswers48UntilPluggedAgain) {
    createDevice("U1");
    ZelmorInstance instance = openInstance();
    const ZelmorKeyPair key = generate(instance, "U1", keyKindEcP256);
    const zelmor::sim::DeviceStore store(storeFolder());
    zelmor::sim::setPlugged(store, "U1", false);

    EXPECT_TRUE(zelmor_getConnectedDeviceList(false, instance).empty());
    EXPECT_TRUE(zelmor_getTokenInfo("U1", instance).serialNumber.empty());
    EXPECT_TRUE(zelmor_getKeyPairList("U1", instance).empty());
    EXPECT_EQ(zelmor_initDevice("U1", true, instance), result::deviceNotConnected);
    const Bytes hash(32, 7);
    EXPECT_EQ(signWith(instance, "U1", key.identifier, hash), result::deviceNotConnected);
    EXPECT_EQ(generateResult(instance, "U1"), result::deviceNotConnected);
    EXPECT_EQ(generateResult(instance, "unknown"), result::deviceNotConnected);

    zelmor::sim::setPlugged(store, "U1", true);
    EXPECT_EQ(zelmor_getConnectedDeviceList(false, instance), std::vector<std::string>{"U1"});
    EXPECT_EQ(signWith(instance, "U1", key.identifier, hash), result::ok);
}

TEST_F(StoreTest, FoldersArePrivateAndFilesOwnerOnly) {
    createDevice("M1");
    ZelmorInstance instance = openInstance();
    generate(instance, "M1", keyKindEcP256);
    EXPECT_EQ(modeOf(storeFolder()), 0700u);
    EXPECT_EQ(modeOf(storeFolder() + "/M1"), 0700u);
    for (const auto& name : filesIn(storeFolder() + "/M1"))
        EXPECT_EQ(modeOf(storeFolder() + "/M1/" + name), 0600u) << name;
    EXPECT_EQ(filesIn(storeFolder() + "/M1").size(), 2u) << "metadata and one key file, nothing left over";
}

TEST_F(StoreTest, DamagedDeviceFolderIsLeftOutWithoutHarmingOthers) {
    createDevice("GOOD");
    createDevice("BAD1");
    createDevice("BAD2");
    createDevice("BAD3");
    ZelmorInstance writer = openInstance();
    const ZelmorKeyPair key = generate(writer, "BAD2", keyKindEcP256);
    generate(writer, "BAD3", keyKindEcP256);

    writeFile(storeFolder() + "/BAD1/device.txt", std::string("zelmor-sim-device 1\nserial BAD1\n"));
    ::unlink((storeFolder() + "/BAD2/key-" + zelmor::sim::toHex(key.identifier, 16) + ".p8").c_str());
    for (const auto& name : filesIn(storeFolder() + "/BAD3"))
        if (name.rfind("key-", 0) == 0) writeFile(storeFolder() + "/BAD3/" + name, std::string("not a key"));
    ::mkdir((storeFolder() + "/EMPTY").c_str(), 0700);
    ::symlink((storeFolder() + "/GOOD").c_str(), (storeFolder() + "/LINKED").c_str());

    ZelmorInstance fresh = openInstance();
    EXPECT_EQ(zelmor_getConnectedDeviceList(false, fresh), std::vector<std::string>{"GOOD"});
    EXPECT_EQ(zelmor_initDevice("BAD1", true, fresh), result::deviceNotConnected);
    EXPECT_TRUE(zelmor_getKeyPairList("BAD2", fresh).empty());
}

TEST_F(StoreTest, WriteFailingHalfwayKeepsTheEarlierContent) {
    createDevice("F1");
    ZelmorInstance instance = openInstance();
    const ZelmorKeyPair first = generate(instance, "F1", keyKindEcP256, "first");

    for (unsigned failingWrite : {1u, 2u}) {  // the key file, then the metadata
        zelmor::sim::writefaults::failWriteNumber(failingWrite);
        EXPECT_EQ(generateResult(instance, "F1"), result::storeFailure);
        zelmor::sim::writefaults::failWriteNumber(0);

        ZelmorInstance fresh = openInstance();
        const auto keys = zelmor_getKeyPairList("F1", fresh);
        ASSERT_EQ(keys.size(), 1u) << "after failing write " << failingWrite;
        EXPECT_EQ(std::memcmp(keys[0].identifier, first.identifier, 16), 0);
    }
    // The next change succeeds and clears what the failed ones left behind.
    const ZelmorKeyPair second = generate(instance, "F1", keyKindEcP256, "second");
    EXPECT_EQ(second.number, 1u);
    EXPECT_EQ(filesIn(storeFolder() + "/F1").size(), 3u);
}
