// PINs never leave the process: end-to-end flows at log level 3 with
// distinctive PINs, then every log file, every store file and everything
// written to standard output is searched for them, in clear and in hex.
// Log and store files are owner-only; links planted where the module or the
// library writes are not followed.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "E2eSupport.h"

namespace e2e {
namespace {

const std::string firstPin = "7391046285";
const std::string secondPin = "5820913746";
const std::string wrongPin = "6150287394";

std::string hexOf(const std::string& text, bool upper) {
    static const char lower[] = "0123456789abcdef";
    static const char upperDigits[] = "0123456789ABCDEF";
    const char* digits = upper ? upperDigits : lower;
    std::string hex;
    for (unsigned char c : text) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// Every form a PIN could take in a file: clear, hex either case, reversed.
std::vector<std::string> formsOf(const std::string& pin) {
    std::string reversed(pin.rbegin(), pin.rend());
    return {pin, hexOf(pin, true), hexOf(pin, false), reversed};
}

void expectNoPin(const std::string& where, const std::string& content) {
    for (const std::string& pin : {firstPin, secondPin, wrongPin}) {
        for (const std::string& form : formsOf(pin)) {
            EXPECT_EQ(content.find(form), std::string::npos) << where << " holds " << form;
        }
    }
}

// Standard output of the flows, caught in a file.
class CapturedOutput {
public:
    CapturedOutput() : path_(runFolder() + "/stdout.txt") {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        FILE* file = std::fopen(path_.c_str(), "w");
        ::dup2(::fileno(file), STDOUT_FILENO);
        std::fclose(file);
    }
    std::string finish() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        return readFile(path_);
    }

private:
    std::string path_;
    int saved_ = -1;
};

void runFlows() {
    createDevice("SECRET01", firstPin);
    CK_SESSION_HANDLE session = openSession("SECRET01");
    EXPECT_EQ(login(session, wrongPin), CKR_PIN_INCORRECT);
    ASSERT_EQ(login(session, firstPin), CKR_OK);
    std::string again = firstPin;
    EXPECT_EQ(p11()->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&again[0]), again.size()),
              CKR_USER_ALREADY_LOGGED_IN);
    CK_OBJECT_HANDLE rsaPublic = 0, rsaPrivate = 0, ecPublic = 0, ecPrivate = 0;
    ASSERT_EQ(generateRsaKeyPair(session, "secret rsa", &rsaPublic, &rsaPrivate), CKR_OK);
    ASSERT_EQ(generateEcKeyPair(session, "secret ec", &ecPublic, &ecPrivate), CKR_OK);
    EXPECT_EQ(signOnce(session, rsaPrivate, CKM_SHA256_RSA_PKCS), CKR_OK);
    EXPECT_EQ(signOnce(session, ecPrivate, CKM_ECDSA_SHA256), CKR_OK);

    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    CK_BYTE data[16] = {4, 2};
    CK_BYTE encrypted[256];
    CK_ULONG encryptedLength = sizeof encrypted;
    ASSERT_EQ(p11()->C_EncryptInit(session, &rsa, rsaPublic), CKR_OK);
    ASSERT_EQ(p11()->C_Encrypt(session, data, sizeof data, encrypted, &encryptedLength), CKR_OK);
    CK_BYTE plain[256];
    CK_ULONG plainLength = sizeof plain;
    ASSERT_EQ(p11()->C_DecryptInit(session, &rsa, rsaPrivate), CKR_OK);
    EXPECT_EQ(p11()->C_Decrypt(session, encrypted, encryptedLength, plain, &plainLength), CKR_OK);

    CK_OBJECT_HANDLE certificate = 0;
    EXPECT_EQ(importCertificate(session, selfSignedCertificate("Secret Holder"), "secret cert", &certificate), CKR_OK);
    char label[] = "relabelled";
    CK_ATTRIBUTE attribute{CKA_LABEL, label, sizeof label - 1};
    EXPECT_EQ(p11()->C_SetAttributeValue(session, rsaPrivate, &attribute, 1), CKR_OK);
    EXPECT_EQ(p11()->C_DestroyObject(session, certificate), CKR_OK);

    // PIN change and back, with a wrong old PIN in between.
    std::string oldPin = firstPin, newPin = secondPin, wrong = wrongPin;
    auto setPin = [&](std::string& from, std::string& to) {
        return p11()->C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(&from[0]), from.size(),
                               reinterpret_cast<CK_UTF8CHAR_PTR>(&to[0]), to.size());
    };
    EXPECT_EQ(setPin(oldPin, newPin), CKR_OK);
    EXPECT_NE(setPin(wrong, oldPin), CKR_OK);
    EXPECT_EQ(p11()->C_Logout(session), CKR_OK);
    EXPECT_EQ(login(session, secondPin), CKR_OK);
    EXPECT_EQ(setPin(newPin, oldPin), CKR_OK);
    EXPECT_EQ(p11()->C_DestroyObject(session, ecPrivate), CKR_OK);
    EXPECT_EQ(p11()->C_CloseSession(session), CKR_OK);
}

TEST(SecretsTest, NoPinInLogsStoreOrStandardOutput) {
    ensureInitialised();
    CapturedOutput output;
    runFlows();
    const std::string printed = output.finish();
    expectNoPin("standard output", printed);

    const std::vector<std::string> logs = filesBelow(logFolder());
    ASSERT_FALSE(logs.empty()) << "the flows wrote no log at level 3";
    bool loggedLogin = false;
    for (const std::string& path : logs) {
        const std::string content = readFile(path);
        loggedLogin = loggedLogin || content.find("C_Login") != std::string::npos;
        expectNoPin(path, content);
        EXPECT_EQ(modeOf(path) & 077, 0u) << path;
    }
    EXPECT_TRUE(loggedLogin) << "the log did not record the flows";

    const std::vector<std::string> stored = filesBelow(storeFolder());
    ASSERT_FALSE(stored.empty());
    for (const std::string& path : stored) {
        expectNoPin(path, readFile(path));
        EXPECT_EQ(modeOf(path) & 077, 0u) << path;
    }
}

std::string todaysLogName() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[32];
    std::strftime(name, sizeof name, "%Y-%m-%d.LOG", &local);
    return name;
}

TEST(SecretsTest, LinkPlantedAtTheLogFileIsNotFollowed) {
    ensureInitialised();
    CK_INFO info;
    ASSERT_EQ(p11()->C_GetInfo(&info), CKR_OK);  // the log folder exists now
    std::vector<std::string> logs = filesBelow(logFolder());
    ASSERT_FALSE(logs.empty());
    const std::string folder = logs.front().substr(0, logs.front().rfind('/'));
    const std::string logPath = folder + "/" + todaysLogName();
    const std::string target = runFolder() + "/log-link-target";
    std::ofstream(target) << "untouched";
    ::unlink(logPath.c_str());
    ASSERT_EQ(::symlink(target.c_str(), logPath.c_str()), 0);

    EXPECT_EQ(p11()->C_GetInfo(&info), CKR_OK);
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_NE(p11()->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_OK);

    EXPECT_EQ(readFile(target), "untouched");
    ::unlink(logPath.c_str());
}

TEST(SecretsTest, LinksPlantedInTheStoreAreNotFollowed) {
    ensureInitialised();
    const std::string pin = "83920174";
    createDevice("LINKED01", pin);
    createDevice("LINKED02", pin);
    const std::string target = runFolder() + "/store-link-target";
    std::ofstream(target) << "untouched";

    // The metadata of one device and the store's lock file become links.
    const std::string metadata = storeFolder() + "/LINKED01/device.txt";
    ::unlink(metadata.c_str());
    ASSERT_EQ(::symlink(target.c_str(), metadata.c_str()), 0);
    EXPECT_EQ(slotOf("LINKED01"), 0u) << "a device read through a link";

    const std::string lock = storeFolder() + "/.lock";
    ::unlink(lock.c_str());
    ASSERT_EQ(::symlink(target.c_str(), lock.c_str()), 0);
    CK_SLOT_ID slot = slotOf("LINKED02");
    if (slot != 0) {
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        ASSERT_EQ(p11()->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
                  CKR_OK);
        if (login(session, pin) == CKR_OK) {
            CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
            generateEcKeyPair(session, "through a link?", &publicKey, &privateKey);
        }
        p11()->C_CloseSession(session);
    }
    EXPECT_EQ(readFile(target), "untouched");
    ::unlink(lock.c_str());
}

}  // namespace
}  // namespace e2e
