// Text, environment and path helpers, and the containers that wipe secrets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "ModuleLoader.h"
#include "TestEnvironment.h"
#include "frame/Log.h"
#include "frame/StandardsMode.h"
#include "objects/creation/CaFolder.h"
#include "platform/Platform.h"
#include "utils/SecretString.h"
#include "utils/Utils.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#endif

using Pieces = std::vector<std::string>;

TEST(Split, CutsAtEveryDelimiterKeepingEmptyPieces) {
    const std::tuple<const char*, const char*, Pieces> cases[] = {
        {"app.test.exe", ".", {"app", "test", "exe"}}, {".a..b.", ".", {"", "a", "", "b", ""}},
        {"whole", ".", {"whole"}},                     {"", ".", {""}},
        {"1::2", "::", {"1", "2"}},                    {"a.b", "", {"a.b"}},
    };
    for (const auto& [text, delimiter, expected] : cases) EXPECT_EQ(expected, Utils().split(text, delimiter)) << text;
}

TEST(ExtractCommonName, FirstCnValueUpToCommaOrLineBreak) {
    const std::pair<const char*, const char*> cases[] = {
        {"CN=Alice,O=Org,C=DE", "Alice"},      {"O=Org,CN=Bob Smith,C=DE", "Bob Smith"},
        {"CN=First,CN=Second", "First"},       {"CN=Line\nO=Org", "Line"},
        {"CN=Carriage\r\nO=Org", "Carriage"},  {"CN=,CN=AfterEmpty", "AfterEmpty"},
        {"O=No Common Name", "O=No Common Name"}, {"cn=lower", "cn=lower"},
        {"CN=", "CN="},                        {"", ""},
        {"SERIALNUMBER=1,CN=Tail", "Tail"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(expected, Utils().extractCommonName(name)) << name;
}

// Null and empty paths never reach the file system; the executable's folder
// is the running program's. (The environment is proven through certificate
// import.)
TEST(PathExists, FilesAndFoldersButNotNullOrEmpty) {
    const std::string& folder = testing_support::testFolder();
    EXPECT_TRUE(Utils().pathExists(folder.c_str()));
    EXPECT_FALSE(Utils().pathExists((folder + "/no-such-entry").c_str()));
    EXPECT_FALSE(Utils().pathExists(nullptr));
    EXPECT_FALSE(Utils().pathExists(""));
    EXPECT_EQ(testing_support::executableFolder(), Utils().getExecutableFolderPath());
}

#if defined(_WIN32)
TEST(ExecutableFolder, CutBeforeTheLastSeparatorOfTheWholePath) {
    const std::string deep = "C:\\" + std::string(400, 'd');
    const std::pair<std::string, std::string> cases[] = {  // reported path, folder
        {"C:\\Program Files\\App\\app.exe", "C:\\Program Files\\App"},
        {"C:/tools/app.exe", "C:/tools"},
        {"app.exe", "app.exe"},
        {deep + "\\app.exe", deep},
        {"", ""},
    };
    for (const auto& [reported, expected] : cases) {
        std::string folder = platform::executableFolderFrom([&](char* buffer, unsigned long size) {
            // As GetModuleFileNameA: cut to the buffer, and then the buffer size is returned.
            unsigned long length = static_cast<unsigned long>(reported.size());
            unsigned long copied = length < size ? length : size - 1;
            std::memcpy(buffer, reported.data(), copied);
            buffer[copied] = '\0';
            return length < size ? length : size;
        });
        EXPECT_EQ(expected, folder) << reported;
    }
}
#endif

// Without ZELMOR_HOME the CA folder is looked for in the install folders, in
// this order; the list is read here, so no test writes into them.
TEST(DefaultInstallFolders, BothInstallFoldersInOrder) {
#if defined(_WIN32)
    const std::vector<std::string> expected = {"C:/Program Files (x86)/Trevanic/Zelmor",
                                               "C:/Program Files/Trevanic/Zelmor"};
#else
    const std::vector<std::string> expected = {"/opt/trevanic/zelmor", "/usr/local/share/trevanic/zelmor"};
#endif
    EXPECT_EQ(expected, platform::defaultInstallFolders());
}

// Without ZELMOR_HOME, or with it empty, the CA folder is below the first
// install folder that exists, else below the program's folder.
TEST(CaFolder, WithoutHomeBelowAnInstallFolderOrTheProgramFolder) {
    for (const std::string& folder : platform::defaultInstallFolders()) {
        if (Utils().pathExists(folder.c_str())) GTEST_SKIP() << folder << " exists on this machine";
    }
    const std::string separator(1, platform::pathSeparator());
    const std::string expected =
        Utils().getExecutableFolderPath() + separator + "ZelmorDSC" + separator + "Certificates";
    for (bool empty : {false, true}) {
#if defined(_WIN32)
        _putenv_s("ZELMOR_HOME", "");
#else
        if (empty) setenv("ZELMOR_HOME", "", 1);
        else unsetenv("ZELMOR_HOME");
#endif
        EXPECT_EQ(expected, zelmor::caFolderPath(Utils())) << (empty ? "empty" : "unset");
    }
}

// (The fixed-width text fields are proven through the token information.)
TEST(Hex, UpperCaseTwoDigitsPerByte) {
    const unsigned char bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    EXPECT_EQ("000FA5FF", zelmor::toHex(bytes, sizeof bytes));
    EXPECT_EQ("", zelmor::toHex(bytes, 0));
}

// SecretBytes grows into buffers of its own (to wipe the old one): the bytes
// must survive every growth.
TEST(Secrets, CompareCopyGrowAndEmptyOnClear) {
    SecretString secret("1234", 4);
    EXPECT_TRUE(secret.equals("1234", 4));
    EXPECT_FALSE(secret.equals("12345", 5));
    EXPECT_FALSE(secret.equals("1235", 4));
    secret.assign("9999999", 7);
    EXPECT_STREQ("9999999", secret.c_str());
    secret.clear();
    EXPECT_TRUE(secret.equals("", 0));
    SecretBytes bytes;
    std::vector<uint8_t> expected;
    for (uint8_t part = 1; part <= 40; ++part) {
        expected.insert(expected.end(), part, part);
        bytes.append(expected.data() + expected.size() - part, part);
    }
    SecretBytes copy = bytes;
    bytes.clear();
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(expected, std::vector<uint8_t>(copy.data(), copy.data() + copy.size()));
}

// Any non-zero standards setting turns it on, whichever of its four bytes is set.
TEST(Settings, EveryByteOfTheStandardsValueCounts) {
    const struct {
        const char* name; unsigned value; bool on;
    } rows[] = {{"zero", 0, false},         {"first byte", 0x1, true},         {"second byte", 0x100, true},
                {"third byte", 0x10000, true}, {"fourth byte", 0x1000000, true}};
    for (const auto& row : rows) {
        testing_support::setStandardsMode(row.value);
        EXPECT_EQ(row.on, zelmor::readStandardsSetting()) << row.name;
    }
    testing_support::removeStandardsMode();
}

// A number setting is handed on as the four little-endian bytes of a REG_DWORD,
// the rest of the buffer zero.
TEST(Settings, ANumberIsItsFourLittleEndianBytes) {
    testing_support::setStandardsMode(0x01020304);
    uint8_t data[32];
    std::memset(data, 0xCC, sizeof data);
    ASSERT_TRUE(platform::readSettingValue("standardsMode", data));
    testing_support::removeStandardsMode();
    const uint8_t expected[32] = {0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(0, std::memcmp(expected, data, sizeof data)) << zelmor::toHex(data, sizeof data);
}

#if !defined(_WIN32)
// A setting file that stat shows unchanged is served from memory (the log
// level is read for every line); a changed one is read again.
TEST(Settings, ReadAgainOnlyWhenTheFileChanges) {
    const std::string path = testing_support::testFolder() + "/config/cacheProbe";
    const auto read = [] {
        uint8_t data[32] = {};
        platform::readSettingValue("cacheProbe", data);
        return data[0];
    };
    std::ofstream(path) << "2\n";
    ASSERT_EQ(2, read());
    struct stat before {};
    ASSERT_EQ(0, stat(path.c_str(), &before));
    std::ofstream(path, std::ios::trunc) << "3\n";  // the same file, of the same size
    const struct timespec unchanged[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), unchanged, 0));
    EXPECT_EQ(2, read());
    const struct timespec changed[2] = {before.st_atim, {before.st_mtim.tv_sec + 1, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), changed, 0));
    EXPECT_EQ(3, read());
}
#endif
