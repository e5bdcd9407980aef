// The diagnostic log: level selection, path, line format, folder creation and
// failures that must never reach the caller.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "TestEnvironment.h"
#include "frame/Log.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace testing_support;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { removeFile(todaysLogFile()); }
    void TearDown() override { setLogLevel(3); }
    std::string log() { return readFile(todaysLogFile()); }
};

}  // namespace

TEST_F(LogTest, LineCarriesStampArrowTagAndMessage) {
    setLogLevel(3);
    zelmor::logDebug("C_GetSlotList");
    zelmor::logError("Token password validation failed : -5");
    zelmor::writeLog(1, "exception text");
    zelmor::writeLog(9, "info text");
    std::regex line(R"(\d\d/\d\d::\d\d:\d\d:\d\d:\d\d\d-> ->)");
    std::string text = log();
    std::regex expected(
        R"(^\d\d/\d\d::\d\d:\d\d:\d\d:\d\d\d-> ->DEBUG ::=>C_GetSlotList\n)"
        R"(\d\d/\d\d::\d\d:\d\d:\d\d:\d\d\d-> ->ERROR ::=>Token password validation failed : -5\n)"
        R"(\d\d/\d\d::\d\d:\d\d:\d\d:\d\d\d-> ->EXCEP ::=>exception text\n)"
        R"(\d\d/\d\d::\d\d:\d\d:\d\d:\d\d\d-> ->INFO  ::=>info text\n$)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LogTest, LevelSelectsWhatIsWritten) {
    struct Case {
        const char* name;
        void (*configure)();
        bool debugWritten;
        bool errorWritten;
    };
    const Case cases[] = {
        {"no value", [] { removeLogLevel(); }, false, true},
        {"3", [] { setLogLevel(3); }, true, true},
        {"7 counts as 2", [] { setLogLevel(7); }, false, true},
        {"2", [] { setLogLevel(2); }, false, true},
        {"1", [] { setLogLevel(1); }, false, false},
        {"0", [] { setLogLevel(0); }, false, false},
        {"0xFFFFFFFF is -1", [] { setLogLevel(0xFFFFFFFFu); }, false, false},
    };
    for (const Case& c : cases) {
        removeFile(todaysLogFile());
        c.configure();
        zelmor::logDebug("debug line");
        zelmor::logError("error line");
        std::string text = log();
        EXPECT_EQ(c.debugWritten, text.find("DEBUG ::=>debug line") != std::string::npos) << c.name;
        EXPECT_EQ(c.errorWritten, text.find("ERROR ::=>error line") != std::string::npos) << c.name;
    }
}

#if defined(_WIN32)
TEST_F(LogTest, StringValueCountsByItsFirstByte) {
    setLogLevelText("3");  // first byte 0x33 is above 3, so level 2
    zelmor::logDebug("debug line");
    zelmor::logError("error line");
    EXPECT_EQ(std::string::npos, log().find("debug line"));
    EXPECT_NE(std::string::npos, log().find("error line"));
}
#else
TEST_F(LogTest, UnreadableLevelFileMeansLevelTwo) {
    setLogLevelText("three");
    EXPECT_EQ(2, zelmor::getLogLevel());
    setLogLevelText("-1\n");
    EXPECT_EQ(-1, zelmor::getLogLevel());
    setLogLevelText("3");
    EXPECT_EQ(3, zelmor::getLogLevel());
}
#endif

TEST_F(LogTest, PathIsTempTrevanicProcessDate) {
    EXPECT_EQ(logFolder(), zelmor::logFolderPath());
    EXPECT_EQ(processName(), zelmor::getProcessName());
    EXPECT_EQ(std::string::npos, zelmor::getProcessName().find('.'));
}

TEST_F(LogTest, MissingFoldersAreCreatedByTheFirstLine) {
    setLogLevel(3);
    std::string folder = logFolder();
    // Move the log away to a fresh process folder name by removing it.
    removeFile(todaysLogFile());
#if defined(_WIN32)
    RemoveDirectoryA(folder.c_str());
#else
    rmdir(folder.c_str());
#endif
    EXPECT_FALSE(zelmor::isDirectory(folder));
    zelmor::logDebug("first line");
    EXPECT_TRUE(zelmor::isDirectory(folder));
    EXPECT_NE(std::string::npos, log().find("first line"));
}

TEST_F(LogTest, UnwritableFileIsReportedOnStandardOutputOnly) {
    setLogLevel(3);
    // A folder where the file should be: the open fails on every platform.
    std::string path = todaysLogFile();
#if defined(_WIN32)
    CreateDirectoryA(path.c_str(), nullptr);
#else
    mkdir(path.c_str(), 0700);
#endif
    ::testing::internal::CaptureStdout();
    zelmor::logDebug("lost line");
    std::string printed = ::testing::internal::GetCapturedStdout();
#if defined(_WIN32)
    RemoveDirectoryA(path.c_str());
#else
    rmdir(path.c_str());
#endif
    EXPECT_EQ("\nUnable to write log", printed);
}

TEST_F(LogTest, ConcurrentLinesStayWhole) {
    setLogLevel(3);
    auto writer = [](char tag) {
        for (int i = 0; i < 200; ++i) zelmor::logDebug(std::string(100, tag));
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();
    std::string text = log();
    std::regex line(R"(\d\d/\d\d::\d\d:\d\d:\d\d:\d\d\d-> ->DEBUG ::=>(a{100}|b{100}))");
    std::size_t lines = 0, start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++lines) {
        ASSERT_TRUE(std::regex_match(text.substr(start, end - start), line)) << text.substr(start, end - start);
    }
    EXPECT_EQ(400u, lines);
}

#if !defined(_WIN32)
TEST_F(LogTest, FoldersAndFileAreCreatedPrivateBelowASharedFolder) {
    setLogLevel(3);
    zelmor::logDebug("line");
    struct stat shared {}, own {}, file {};
    ASSERT_EQ(0, stat((testFolder() + "//Trevanic").c_str(), &shared));
    ASSERT_EQ(0, stat(logFolder().c_str(), &own));
    ASSERT_EQ(0, stat(todaysLogFile().c_str(), &file));
    EXPECT_EQ(01777u, shared.st_mode & 07777);
    EXPECT_EQ(0700u, own.st_mode & 07777);
    EXPECT_EQ(0600u, file.st_mode & 07777);
}

TEST_F(LogTest, SymbolicLinkAtTheLogPathIsNotFollowed) {
    setLogLevel(3);
    zelmor::logDebug("make folders");
    removeFile(todaysLogFile());
    std::string target = testFolder() + "/target";
    ASSERT_EQ(0, symlink(target.c_str(), todaysLogFile().c_str()));
    ::testing::internal::CaptureStdout();
    zelmor::logDebug("must not land in target");
    EXPECT_EQ("\nUnable to write log", ::testing::internal::GetCapturedStdout());
    EXPECT_EQ("", readFile(target));
    removeFile(todaysLogFile());
}
#endif
