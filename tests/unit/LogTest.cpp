// The diagnostic log: level selection, path, line format, folder creation and
// failures that must never reach the caller.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>
#include <tuple>

#include "TestEnvironment.h"
#include "frame/Log.h"
#include "platform/Platform.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#endif

using namespace testing_support;

namespace {

const std::string stamp = R"(\d\d/\d\d::\d\d:\d\d:\d\d:\d\d\d-> ->)";

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        removeFile(todaysLogFile());
        setLogLevel(3);
    }
    std::string log() { return readFile(todaysLogFile()); }
};

}  // namespace

// Written to today's file (todaysLogFile), each line stamped with today's day and month.
TEST_F(LogTest, LineCarriesStampArrowTagAndMessage) {
    zelmor::logDebug("C_GetSlotList");
    zelmor::logError("Token password validation failed : -5");
    zelmor::writeLog(1, "exception text");
    zelmor::writeLog(9, "info text");
    const std::string text = log();
    const std::regex expected("^" + stamp + "DEBUG ::=>C_GetSlotList\n" + stamp +
                              "ERROR ::=>Token password validation failed : -5\n" + stamp +
                              "EXCEP ::=>exception text\n" + stamp + "INFO  ::=>info text\n$");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
    const std::time_t now = std::time(nullptr);
    char dayMonth[8] = {};
    std::strftime(dayMonth, sizeof dayMonth, "%d/%m", std::localtime(&now));
    EXPECT_EQ(dayMonth, text.substr(0, 5));
}

TEST_F(LogTest, LevelSelectsWhatIsWritten) {
    // The value, and whether a debug and an error line are written.
    const std::tuple<const char*, void (*)(), bool, bool> cases[] = {
        {"no value", [] { removeLogLevel(); }, false, true},
        {"3", [] { setLogLevel(3); }, true, true},
        {"7 counts as 2", [] { setLogLevel(7); }, false, true},
        {"2", [] { setLogLevel(2); }, false, true},
        {"1", [] { setLogLevel(1); }, false, false},
        {"0xFFFFFFFF is -1", [] { setLogLevel(0xFFFFFFFFu); }, false, false},
#if defined(_WIN32)
        {"REG_SZ \"3\": its first byte 0x33 is above 3", [] { setLogLevelText("3"); }, false, true},
#else
        {"unreadable text", [] { setLogLevelText("three"); }, false, true},
        {"trailing junk", [] { setLogLevelText("3x"); }, false, true},
        {"text -1", [] { setLogLevelText("-1\n"); }, false, false},
#endif
    };
    for (const auto& [name, configure, debugWritten, errorWritten] : cases) {
        removeFile(todaysLogFile());
        configure();
        zelmor::logDebug("debug line");
        zelmor::logError("error line");
        const std::string text = log();
        EXPECT_EQ(debugWritten, text.find("DEBUG ::=>debug line") != std::string::npos) << name;
        EXPECT_EQ(errorWritten, text.find("ERROR ::=>error line") != std::string::npos) << name;
    }
}

// Missing folders are made by the first line; a file that cannot be opened
// is reported on standard output only.
TEST_F(LogTest, PathFoldersAndUnwritableFile) {
    EXPECT_EQ(logFolder(), zelmor::logFolderPath());
    EXPECT_EQ(processName(), zelmor::getProcessName());
    std::filesystem::remove(logFolder());
    zelmor::logDebug("first line");
    EXPECT_NE(std::string::npos, log().find("first line"));
    // A folder where the file should be: the open fails on every platform.
    removeFile(todaysLogFile());
    std::filesystem::create_directory(todaysLogFile());
    ::testing::internal::CaptureStdout();
    zelmor::logDebug("lost line");
    EXPECT_EQ("\nUnable to write log", ::testing::internal::GetCapturedStdout());
    std::filesystem::remove(todaysLogFile());
}

TEST_F(LogTest, ConcurrentLinesStayWhole) {
    auto writer = [](char tag) {
        for (int i = 0; i < 200; ++i) zelmor::logDebug(std::string(100, tag));
    };
    std::thread first(writer, 'a'), second(writer, 'b');
    first.join();
    second.join();
    const std::string text = log();
    const std::regex line(stamp + "DEBUG ::=>(a{100}|b{100})\n");
    std::size_t lines = 0, matched = 0;
    for (std::sregex_iterator i(text.begin(), text.end(), line), end; i != end; ++i, ++lines) matched += i->length();
    EXPECT_EQ(400u, lines);
    EXPECT_EQ(text.size(), matched);
}

#if !defined(_WIN32)
// A folder path is kept to the 1023 bytes that fit the path buffer, and the
// temporary folder to the buffer it is given, with the terminator.
TEST_F(LogTest, PathsAreCutToTheirBuffers) {
    std::string path = testFolder() + "/cut";
    while (path.size() < zelmor::logPathBufferSize) path += "/" + std::string(200, 'c');
    path.resize(zelmor::logPathBufferSize);
    zelmor::createLogFolder(path);
    EXPECT_TRUE(zelmor::isDirectory(path.substr(0, zelmor::logPathBufferSize - 1)));
    EXPECT_FALSE(zelmor::isDirectory(path));
    char small[4] = "xyz";
    EXPECT_FALSE(platform::getTempFolder(small, 0));
    EXPECT_TRUE(platform::getTempFolder(small, 1) && small[0] == '\0');
}

TEST_F(LogTest, FoldersAndFileAreCreatedPrivateBelowASharedFolder) {
    zelmor::logDebug("line");
    const auto modeOf = [](const std::string& path) {
        struct stat status {};
        EXPECT_EQ(0, stat(path.c_str(), &status)) << path;
        return status.st_mode & 07777;
    };
    EXPECT_EQ(01777u, modeOf(testFolder() + "//Trevanic"));
    EXPECT_EQ(0700u, modeOf(logFolder()));
    EXPECT_EQ(0600u, modeOf(todaysLogFile()));
    // A temporary folder with a "Trevanic" level of its own: only the last one is shared.
    const std::string nested = testFolder() + "/nested/Trevanic/tmp/";
    zelmor::createLogFolder(nested + "/Trevanic/app/");
    EXPECT_EQ(0700u, modeOf(testFolder() + "/nested/Trevanic"));
    EXPECT_EQ(01777u, modeOf(nested + "/Trevanic"));
}

// Another user may have planted something at the log path below the shared
// folder first: the line is dropped, never written there, and never blocks.
TEST_F(LogTest, PlantedLogPathIsRefused) {
    zelmor::logDebug("make folders");
    const std::string folder = logFolder(), file = todaysLogFile(), target = testFolder() + "/target";
    const passwd* nobody = getpwnam("nobody");
    const bool canChown = geteuid() == 0 && nobody != nullptr;  // planting as another user needs root
    // What is planted, whether that needs root, and how.
    const std::tuple<const char*, bool, std::function<int()>> cases[] = {
        {"symbolic link", false, [&] { return symlink(target.c_str(), file.c_str()); }},
        {"FIFO", false, [&] { return mkfifo(file.c_str(), 0666); }},
        {"file of another user", true,
         [&] {
             close(open(file.c_str(), O_WRONLY | O_CREAT, 0600));
             return chown(file.c_str(), nobody->pw_uid, nobody->pw_gid);
         }},
        {"folder of another user", true, [&] { return chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid); }},
        {"group-writable folder", false, [&] { return chmod(folder.c_str(), 0770); }},
        {"world-writable folder", false, [&] { return chmod(folder.c_str(), 01777); }},
    };
    for (const auto& [name, needsChown, plant] : cases) {
        SCOPED_TRACE(name);
        if (needsChown && !canChown) continue;
        removeFile(file);
        ASSERT_EQ(0, plant());
        ::testing::internal::CaptureStdout();
        alarm(10);  // blocked on the FIFO: the alarm ends the program instead of hanging
        zelmor::logDebug("planted");
        alarm(0);
        EXPECT_EQ("\nUnable to write log", ::testing::internal::GetCapturedStdout());
        struct stat status {};  // a FIFO is not read: that would block
        EXPECT_EQ("", lstat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? readFile(file) : "");
        EXPECT_EQ("", readFile(target));
        removeFile(file);
        ASSERT_EQ(0, chown(folder.c_str(), geteuid(), getegid()));
        ASSERT_EQ(0, chmod(folder.c_str(), 0700));
    }
}
#endif
