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
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
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

    // A temporary folder with a "Trevanic" level of its own: only the last one is shared.
    const std::string nested = testFolder() + "/nested/Trevanic/tmp/";
    zelmor::createLogFolder(nested + "/Trevanic/app/");
    struct stat outer {}, inner {};
    ASSERT_EQ(0, stat((testFolder() + "/nested/Trevanic").c_str(), &outer));
    ASSERT_EQ(0, stat((nested + "/Trevanic").c_str(), &inner));
    EXPECT_EQ(0700u, outer.st_mode & 07777);
    EXPECT_EQ(01777u, inner.st_mode & 07777);
}

// Another user may have planted something at the log path below the shared
// folder first: the line is dropped, never written there, and never blocks.
TEST_F(LogTest, PlantedLogPathIsRefused) {
    setLogLevel(3);
    zelmor::logDebug("make folders");
    const std::string folder = logFolder(), file = todaysLogFile(), target = testFolder() + "/target";
    const passwd* nobody = getpwnam("nobody");
    const bool canChown = geteuid() == 0 && nobody != nullptr;
    struct Case {
        const char* name;
        bool needsChown;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"symbolic link", false, [&] { ASSERT_EQ(0, symlink(target.c_str(), file.c_str())); }},
        {"FIFO", false, [&] { ASSERT_EQ(0, mkfifo(file.c_str(), 0666)); }},
        {"file of another user", true,
         [&] {
             close(open(file.c_str(), O_WRONLY | O_CREAT, 0600));
             ASSERT_EQ(0, chown(file.c_str(), nobody->pw_uid, nobody->pw_gid));
         }},
        {"folder of another user", true,
         [&] { ASSERT_EQ(0, chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid)); }},
        {"group-writable folder", false, [&] { ASSERT_EQ(0, chmod(folder.c_str(), 0770)); }},
        {"world-writable folder", false, [&] { ASSERT_EQ(0, chmod(folder.c_str(), 01777)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsChown && !canChown) continue;  // planting as another user needs root
        removeFile(file);
        c.plant();
        ::testing::internal::CaptureStdout();
        auto writing = std::async(std::launch::async, [] { zelmor::logDebug("planted"); });
        int reader = -1;
        if (writing.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Blocked on the FIFO: a reader releases it so the test fails instead of hanging.
            reader = open(file.c_str(), O_RDONLY | O_NONBLOCK);
            ADD_FAILURE() << "writing the log blocked";
        }
        writing.wait();
        if (reader >= 0) close(reader);
        EXPECT_EQ("\nUnable to write log", ::testing::internal::GetCapturedStdout());
        struct stat status {};
        if (lstat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            EXPECT_EQ(std::string::npos, readFile(file).find("planted"));
        }
        EXPECT_EQ("", readFile(target));
        removeFile(file);
        ASSERT_EQ(0, chown(folder.c_str(), geteuid(), getegid()));
        ASSERT_EQ(0, chmod(folder.c_str(), 0700));
    }
    zelmor::logDebug("own folder again");
    EXPECT_NE(std::string::npos, log().find("own folder again"));
}
#endif
