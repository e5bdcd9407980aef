// Store faults seen through the module: a store write failing halfway (a
// full disk) fails that operation and leaves the device readable with its
// earlier content; a device folder damaged between two calls makes the
// device absent, never the process dead or hung.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <functional>

#include "E2eSupport.h"
#include "store/WriteFaults.h"

namespace e2e {
namespace {

const char pin[] = "40516273";

class FaultInjectionTest : public ::testing::Test {
public:
    void SetUp() override { ensureInitialised(); }
    void TearDown() override {
        zelmor::sim::writefaults::failWriteNumber(0);
        if (session != CK_INVALID_HANDLE) p11()->C_CloseSession(session);
    }

    // A device holding one EC key pair "first" and one certificate "cert".
    void prepare(const std::string& serial) {
        createDevice(serial, pin);
        session = openSession(serial);
        ASSERT_EQ(login(session, pin), CKR_OK);
        CK_OBJECT_HANDLE publicKey = 0;
        ASSERT_EQ(generateEcKeyPair(session, "first", &publicKey, &firstKey), CKR_OK);
        ASSERT_EQ(importCertificate(session, selfSignedCertificate("Earlier"), "cert", &certificate), CKR_OK);
    }

    // What a reader sees: key and certificate labels.
    std::vector<std::string> content() {
        std::vector<std::string> labels;
        for (CK_OBJECT_CLASS objectClass : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY, CKO_CERTIFICATE}) {
            for (CK_OBJECT_HANDLE object : findObjects(session, objectClass)) labels.push_back(labelOf(session, object));
        }
        return labels;
    }

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE firstKey = 0;
    CK_OBJECT_HANDLE certificate = 0;
};

// Each change of the device writes at least one file (a key or certificate
// file, then the metadata); every one of those writes is made to fail in turn.
TEST_F(FaultInjectionTest, WriteFailingHalfwayFailsTheChangeAndKeepsTheEarlierContent) {
    struct Change {
        const char* name;
        unsigned writes;
        std::function<CK_RV(FaultInjectionTest&)> run;
    };
    const std::vector<Change> changes = {
        {"key generation", 2,
         [](FaultInjectionTest& t) {
             CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
             return generateEcKeyPair(t.session, "second", &publicKey, &privateKey);
         }},
        {"certificate import", 2,
         [](FaultInjectionTest& t) {
             CK_OBJECT_HANDLE handle = 0;
             return importCertificate(t.session, selfSignedCertificate("Later"), "later", &handle);
         }},
        {"relabelling", 1,
         [](FaultInjectionTest& t) {
             char label[] = "renamed";
             CK_ATTRIBUTE attribute{CKA_LABEL, label, sizeof label - 1};
             return p11()->C_SetAttributeValue(t.session, t.firstKey, &attribute, 1);
         }},
        {"key deletion", 1, [](FaultInjectionTest& t) { return p11()->C_DestroyObject(t.session, t.firstKey); }},
        {"certificate deletion", 1,
         [](FaultInjectionTest& t) { return p11()->C_DestroyObject(t.session, t.certificate); }},
    };
    prepare("FAULTW01");
    const std::vector<std::string> earlier = content();
    ASSERT_EQ(earlier.size(), 3u);
    for (const Change& change : changes) {
        for (unsigned write = 1; write <= change.writes; ++write) {
            SCOPED_TRACE(std::string(change.name) + ", failing write " + std::to_string(write));
            zelmor::sim::writefaults::failWriteNumber(write);
            EXPECT_NE(change.run(*this), CKR_OK);
            zelmor::sim::writefaults::failWriteNumber(0);
            EXPECT_EQ(content(), earlier);
            EXPECT_EQ(signOnce(session, firstKey, CKM_ECDSA_SHA256), CKR_OK);
        }
    }
    // The store works on once the disk has room again.
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    EXPECT_EQ(generateEcKeyPair(session, "after", &publicKey, &privateKey), CKR_OK);
    EXPECT_EQ(content().size(), 5u);
}

TEST_F(FaultInjectionTest, FailedRetryCountWriteKeepsTheDeviceUsable) {
    prepare("FAULTP01");
    ASSERT_EQ(p11()->C_Logout(session), CKR_OK);
    zelmor::sim::writefaults::failWriteNumber(1);
    EXPECT_NE(login(session, "99999999"), CKR_OK);
    zelmor::sim::writefaults::failWriteNumber(0);
    EXPECT_EQ(login(session, pin), CKR_OK);
    EXPECT_EQ(content().size(), 3u);
}

// Damage done to a device's folder between two calls of the module.
TEST_F(FaultInjectionTest, DamagedDeviceFolderMakesTheDeviceAbsent) {
    struct Damage {
        const char* name;
        std::function<void(const std::string& folder)> apply;
    };
    const std::vector<Damage> damages = {
        {"metadata truncated", [](const std::string& f) { std::ofstream(f + "/device.txt", std::ios::trunc); }},
        {"metadata junk", [](const std::string& f) { std::ofstream(f + "/device.txt") << "\x01\xFFjunk\n"; }},
        {"metadata cut before its end line",
         [](const std::string& f) {
             std::string text = readFile(f + "/device.txt");
             std::ofstream(f + "/device.txt", std::ios::trunc) << text.substr(0, text.size() / 2);
         }},
        {"metadata removed", [](const std::string& f) { ::unlink((f + "/device.txt").c_str()); }},
        {"metadata a folder",
         [](const std::string& f) {
             ::unlink((f + "/device.txt").c_str());
             ::mkdir((f + "/device.txt").c_str(), 0700);
         }},
        {"metadata a link to an endless file",
         [](const std::string& f) {
             ::unlink((f + "/device.txt").c_str());
             ::symlink("/dev/zero", (f + "/device.txt").c_str());
         }},
        {"metadata a named pipe without writer",
         [](const std::string& f) {
             ::unlink((f + "/device.txt").c_str());
             ::mkfifo((f + "/device.txt").c_str(), 0600);
         }},
    };
    // A key or certificate file damaged under a device already read: the
    // library may keep using what it read, but no call may crash or hang.
    const std::vector<Damage> objectDamages = {
        {"key file removed",
         [](const std::string& f) {
             for (const std::string& path : filesBelow(f)) {
                 if (path.find("/key-") != std::string::npos) ::unlink(path.c_str());
             }
         }},
        {"key file junk",
         [](const std::string& f) {
             for (const std::string& path : filesBelow(f)) {
                 if (path.find("/key-") != std::string::npos) std::ofstream(path, std::ios::trunc) << "not a key";
             }
         }},
    };
    int number = 0;
    for (const Damage& damage : objectDamages) {
        SCOPED_TRACE(damage.name);
        const std::string serial = "DAMAGE" + std::to_string(10 + number++);
        prepare(serial);
        damage.apply(storeFolder() + "/" + serial);
        const CK_RV signing = signOnce(session, firstKey, CKM_ECDSA_SHA256);
        EXPECT_TRUE(signing == CKR_OK || signing == CKR_FUNCTION_FAILED || signing == CKR_DEVICE_REMOVED ||
                    signing == CKR_KEY_HANDLE_INVALID || signing == CKR_OBJECT_HANDLE_INVALID)
            << signing;
        slotOf(serial);
        p11()->C_CloseSession(session);
        session = CK_INVALID_HANDLE;
    }
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        const std::string serial = "DAMAGE" + std::to_string(10 + number++);
        prepare(serial);
        const CK_SLOT_ID slot = slotOf(serial);
        ASSERT_NE(slot, 0u);

        damage.apply(storeFolder() + "/" + serial);

        // The library looks at the files again within a second or so: the
        // device leaves the slot list, and the session's calls fail cleanly.
        for (int wait = 0; wait < 50 && slotOf(serial) != 0; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(slotOf(serial), 0u);
        EXPECT_NE(signOnce(session, firstKey, CKM_ECDSA_SHA256), CKR_OK);
        EXPECT_TRUE(findObjects(session, CKO_PRIVATE_KEY).empty());
        p11()->C_CloseSession(session);
        session = CK_INVALID_HANDLE;
    }
}

}  // namespace
}  // namespace e2e
