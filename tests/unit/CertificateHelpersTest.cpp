#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "TestEnvironment.h"
#include "platform/Platform.h"
#include "utils/Utils.h"

TEST(ExtractCommonName, FirstCnValueUpToCommaOrLineBreak) {
    struct Case {
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {"CN=Alice,O=Org,C=DE", "Alice"},
        {"O=Org,CN=Bob Smith,C=DE", "Bob Smith"},
        {"CN=First,CN=Second", "First"},
        {"CN=Line\nO=Org", "Line"},
        {"CN=Carriage\r\nO=Org", "Carriage"},
        {"CN=,CN=AfterEmpty", "AfterEmpty"},
        {"O=No Common Name", "O=No Common Name"},
        {"cn=lower", "cn=lower"},
        {"CN=", "CN="},
        {"", ""},
        {"SERIALNUMBER=1,CN=Tail", "Tail"},
    };
    Utils utils;
    for (const Case& c : cases) EXPECT_EQ(c.expected, utils.extractCommonName(c.name)) << c.name;
}

TEST(PathExists, FilesAndFoldersButNotNullOrEmpty) {
    Utils utils;
    const std::string& folder = testing_support::testFolder();
    EXPECT_TRUE(utils.pathExists(folder.c_str()));
    EXPECT_FALSE(utils.pathExists((folder + "/no-such-entry").c_str()));
    EXPECT_FALSE(utils.pathExists(nullptr));
    EXPECT_FALSE(utils.pathExists(""));
}

TEST(EnvironmentVariable, ValueOrEmpty) {
    Utils utils;
#if defined(_WIN32)
    _putenv_s("ZELMOR_UNIT_TEST_VARIABLE", "some value");
#else
    setenv("ZELMOR_UNIT_TEST_VARIABLE", "some value", 1);
#endif
    EXPECT_EQ("some value", utils.getEnvironmentVariable("ZELMOR_UNIT_TEST_VARIABLE"));
    EXPECT_EQ("", utils.getEnvironmentVariable("ZELMOR_UNIT_TEST_VARIABLE_UNSET"));
}

TEST(ExecutableFolder, HoldsTheRunningProgram) {
    Utils utils;
    std::string folder = utils.getExecutableFolderPath();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(utils.pathExists(folder.c_str()));
    char last = folder.back();
    EXPECT_NE('/', last);
    EXPECT_NE('\\', last);
}

#if defined(_WIN32)
TEST(ExecutableFolder, CutBeforeTheLastSeparatorOfTheWholePath) {
    const std::string deep = "C:\\" + std::string(400, 'd') + "\\app.exe";
    struct Case {
        std::string reported;
        std::string folder;
    } cases[] = {
        {"C:\\Program Files\\App\\app.exe", "C:\\Program Files\\App"},
        {"C:/tools/app.exe", "C:/tools"},
        {"app.exe", "app.exe"},
        {deep, "C:\\" + std::string(400, 'd')},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string folder = platform::executableFolderFrom([&](char* buffer, unsigned long size) {
            // As GetModuleFileNameA: cut to the buffer, and then the buffer size is returned.
            unsigned long length = static_cast<unsigned long>(c.reported.size());
            unsigned long copied = length < size ? length : size - 1;
            std::memcpy(buffer, c.reported.data(), copied);
            buffer[copied] = '\0';
            return length < size ? length : size;
        });
        EXPECT_EQ(c.folder, folder) << c.reported;
    }
}
#endif
