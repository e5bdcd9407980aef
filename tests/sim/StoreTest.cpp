// The store: the metadata text and its refusal of damaged input, device
// listing and plug state, damaged folders, file modes, interrupted writes,
// and two processes on one device.
#include "SimTestSupport.h"

#include "store/MetadataText.h"
#include "store/SecureFiles.h"
#include "store/WriteFaults.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <tuple>
#include <sys/wait.h>
#include <unistd.h>

using namespace zelmor::sim;

namespace {

// A device's metadata with text that needs escaping, a 128-byte label and a 128-byte ID.
const std::string sampleText = R"(zelmor-sim-device 1
serial SIM-01
label Token 100%25 UTF-8 é
model Zelmor DSC
firmware 2.15
plugged no
retries-max 10
retries-left 3
pin pbkdf2-sha256 100000 abababababababababababababababab cdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcd
key-pair-capacity 4
certificate-capacity 5
generation 42
key-pair 3 11111111111111111111111111111111 kind=6 usage=3 flag=1 id=00ff label=  spaced label=with=equals%0Aand %7F)"
                               "  \nkey-pair 0 22222222222222222222222222222222 kind=5 usage=1 flag=0 id= label=" +
                               std::string(128, 'x') +
                               "\ncertificate 1 33333333333333333333333333333333 id=" + std::string(256, '1') +
                               " label=\nend\n";

// The permission bits of the path itself (a link is not followed).
unsigned modeOf(const std::string& path) { return unsigned(std::filesystem::symlink_status(path).permissions()); }

class StoreTest : public SimTest {};

}  // namespace

TEST(MetadataText, ParsedFieldsAreWrittenBackByteForByte) {
    const auto parsed = parseMetadata(sampleText);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(serialiseMetadata(*parsed), sampleText);
    EXPECT_EQ(parsed->label, "Token 100% UTF-8 \xc3\xa9");
    EXPECT_EQ(parsed->keyPairs.at(0).label, "  spaced label=with=equals\nand \x7f  ");
}

TEST(MetadataText, RefusesDamagedOrOutOfBoundsText) {
    const std::string& text = sampleText;
    for (const std::string& cut : {text.substr(0, text.size() - 4), text.substr(0, text.size() / 2),
                                   text.substr(0, text.size() - 1), std::string(), std::string("\0\0\0\n", 4)})
        EXPECT_FALSE(parseMetadata(cut)) << "cut to " << cut.size();
    // The first occurrence of the left text replaced by the right one.
    const std::pair<std::string, std::string> edits[] = {
        {"zelmor-sim-device 1", "zelmor-sim-device 2"},
        {"generation 42\n", "generation 42\ngeneration 43\n"},
        {"generation 42\n", ""},
        {"generation 42\n", "generation 42\ncolour blue\n"},
        {"label Token", "label %0AToken"},
        {"kind=6", "kind=8"},
        {"kind=6", "kind=0"},
        {"usage=3", "usage=4"},
        {"retries-left 3", "retries-left 11"},
        {"retries-left 3", "retries-left -1"},
        {"retries-max 10", "retries-max 99999999999999999999999"},
        {"key-pair-capacity 4", "key-pair-capacity 0"},
        {"serial SIM-01", "serial ../etc"},
        {"firmware 2.15", "firmware 2.256"},
        {"pin pbkdf2-sha256 100000", "pin pbkdf2-sha256 1"},
        {"id=00ff", "id=00f"},
        {"id=00ff", "id=" + std::string(258, '0')},
        {"label=  spaced", "label=" + std::string(129, 'y') + "  spaced"},
        {"label=  spaced", "label=%G0"},
        {"label=  spaced", "label=%4"},
        {"key-pair 3 ", "key-pair 0 "},
        {std::string(32, '1'), std::string(32, '2')},
    };
    for (const auto& [from, to] : edits) {
        std::string damaged = text;
        const auto at = damaged.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        EXPECT_FALSE(parseMetadata(damaged.replace(at, from.size(), to))) << from << " -> " << to;
    }
}

// Left out of the list: an unplugged device, one whose metadata is cut short,
// one whose key file is missing or damaged, and a link to a device's folder.
TEST_F(StoreTest, ListsPluggedSoundDevicesInByteOrderAndUnpluggedOnesAnswer48UntilPlugged) {
    EXPECT_TRUE(zelmor_getConnectedDeviceList(true, instance).empty()) << "no store yet";
    for (const char* serial : {"b", "B2", "a", "B10", "_x", "Z", "BAD1", "BAD2", "BAD3"}) createDevice(serial);
    const auto keyFile = [&](const char* serial) {
        return storeFolder + "/" + serial + "/key-" + toHex(generate(instance, serial, keyKindEcP256).identifier, 16) +
               ".p8";
    };
    std::ofstream(storeFolder + "/BAD1/device.txt") << "zelmor-sim-device 1\nserial BAD1\n";
    ::unlink(keyFile("BAD2").c_str());
    std::ofstream(keyFile("BAD3")) << "not a key";
    ::symlink((storeFolder + "/a").c_str(), (storeFolder + "/LINKED").c_str());
    const ZelmorKeyPair key = generate(instance, "Z", keyKindEcP256);
    setPlugged(DeviceStore(storeFolder), "Z", false);
    EXPECT_EQ(zelmor_getConnectedDeviceList(false, instance), (std::vector<std::string>{"B10", "B2", "_x", "a", "b"}));
    EXPECT_EQ(signWith(instance, "Z", key.identifier), result::deviceNotConnected);
    EXPECT_EQ(generateResult(instance, "unknown"), result::deviceNotConnected);
    setPlugged(DeviceStore(storeFolder), "Z", true);
    EXPECT_EQ(signWith(instance, "Z", key.identifier), result::ok);
}

// A store write failing halfway (a full disk) fails the change with
// storeFailure: the device keeps its earlier content, as the instance that
// tried the change and a new one (from the files) report it, and works on.
// Every file and folder of the store is the owner's alone.
TEST_F(StoreTest, WriteFailingHalfwayKeepsTheEarlierContentAndFilesAreOwnerOnly) {
    createDevice("F1");
    const ZelmorKeyPair first = generate(instance, "F1", keyKindEcP256);
    const std::string folder = storeFolder + "/F1";
    // The tries left and the key pairs (identifier and label) an instance reports.
    const auto reported = [](ZelmorInstance from) {
        std::string text = "tries " + std::to_string(zelmor_getTokenInfo("F1", from).remainingPinAttempts);
        for (const auto& keyPair : zelmor_getKeyPairList("F1", from))
            text += ", key " + toHex(keyPair.identifier, 16) + " " + keyPair.label;
        return text;
    };
    const std::string before = reported(instance);
    int32_t tries = 0;
    // Each change and the write made to fail: a generation writes its key file, then the metadata.
    const std::tuple<const char*, unsigned, std::function<int32_t()>> changes[] = {
        {"generation, its key file", 1, [&] { return generateResult(instance, "F1"); }},
        {"generation, the metadata", 2, [&] { return generateResult(instance, "F1"); }},
        {"relabelling", 1,
         [&] { return zelmor_updateKeyPairDetails("F1", first.identifier, defaultPin, "new", nullptr, 0, instance); }},
        {"deletion", 1, [&] { return zelmor_deleteKeyPair("F1", first.identifier, defaultPin, false, instance); }},
        {"retry count of a wrong PIN", 1, [&] { return zelmor_validatePassword("F1", "999999", 1, &tries, instance); }},
    };
    for (const auto& [name, failingWrite, change] : changes) {
        SCOPED_TRACE(name);
        writefaults::failWriteNumber(failingWrite);
        EXPECT_EQ(change(), result::storeFailure);
        writefaults::failWriteNumber(0);
        EXPECT_EQ(reported(instance), before) << "to the instance that tried the change";
        EXPECT_EQ(reported(openInstance()), before) << "to a new instance";
    }
    EXPECT_EQ(generate(instance, "F1", keyKindEcP256).number, 1u);
    const auto files = listFolder(folder);
    EXPECT_EQ(files.size(), 3u) << "metadata and two key files: nothing of the failed writes is left";
    for (const auto& name : files) EXPECT_EQ(modeOf(folder + "/" + name), 0600u) << name;
    for (const std::string& path : {storeFolder, folder}) EXPECT_EQ(modeOf(path), 0700u) << path;
}

// Both processes generate six key pairs at once; the other one first deletes
// the key this one has signed with, so its cached copy must go.
TEST_F(StoreTest, TwoProcessesOnOneDeviceLoseNothingAndSeeEachOthersChanges) {
    createDevice("T2", 64);
    const ZelmorKeyPair key = generate(instance, "T2", keyKindEcP256);
    ASSERT_EQ(signWith(instance, "T2", key.identifier), result::ok);
    const pid_t child = ::fork();
    if (child == 0) {
        ZelmorInstance other = openInstance();
        int failures = zelmor_deleteKeyPair("T2", key.identifier, defaultPin, false, other) != 0;
        for (int i = 0; i < 6; ++i) failures += generateResult(other, "T2") != 0;
        ::_exit(failures);
    }
    for (int i = 0; i < 6; ++i) EXPECT_EQ(generateResult(instance, "T2"), result::ok);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(signWith(instance, "T2", key.identifier), result::objectNotFound);
    std::set<uint32_t> numbers;
    for (const auto& keyPair : zelmor_getKeyPairList("T2", instance)) numbers.insert(keyPair.number);
    EXPECT_EQ(numbers, (std::set<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}))
        << "the lowest free number each time";
}
