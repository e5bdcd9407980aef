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
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
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
        {"no value", [] {}, false, true},
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
        {"empty file", [] { setLogLevelText(""); }, false, true},
        {"number out of range", [] { setLogLevelText("99999999999999999999"); }, false, true},
        {"a folder", [] { std::filesystem::create_directory(testFolder() + "/config/logLevel"); }, false, true},
        // Opening a FIFO without a writer would block the line for good.
        {"a FIFO", [] { mkfifo((testFolder() + "/config/logLevel").c_str(), 0600); }, false, true},
#endif
    };
    for (const auto& [name, configure, debugWritten, errorWritten] : cases) {
        removeFile(todaysLogFile());
        removeLogLevel();
        configure();
        zelmor::logDebug("debug line");
        zelmor::logError("error line");
        const std::string text = log();
        EXPECT_EQ(debugWritten, text.find("DEBUG ::=>debug line") != std::string::npos) << name;
        EXPECT_EQ(errorWritten, text.find("ERROR ::=>error line") != std::string::npos) << name;
    }
    removeLogLevel();
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

// createLogFolder reports whether it made the last level, as folder creation
// does; a separator at the end names the same folder.
TEST_F(LogTest, FolderCreationReportsWhetherTheLastLevelWasMade) {
    for (const std::string end : {"here", "there/"}) {
        const std::string folder = testFolder() + "/made/" + end;
        EXPECT_TRUE(zelmor::createLogFolder(folder)) << "missing folder " << end;
        EXPECT_FALSE(zelmor::createLogFolder(folder)) << "existing folder " << end;
    }
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
    EXPECT_FALSE(platform::getTempFolder(small, 2));
    EXPECT_EQ('\0', small[1]);
}

// A message to standard output is flushed at once: a host process that ends
// without flushing its streams still shows it.
TEST_F(LogTest, StandardOutputMessagesAreFlushedAtOnce) {
    std::filesystem::create_directories(todaysLogFile());  // the file cannot be opened
    std::fflush(stdout);
    int pipeEnds[2];
    ASSERT_EQ(0, pipe(pipeEnds));
    fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    const int savedOutput = dup(STDOUT_FILENO);
    dup2(pipeEnds[1], STDOUT_FILENO);
    zelmor::logDebug("lost line");
    char text[64] = {};
    const ssize_t length = read(pipeEnds[0], text, sizeof text);
    dup2(savedOutput, STDOUT_FILENO);
    for (int descriptor : {savedOutput, pipeEnds[0], pipeEnds[1]}) close(descriptor);
    std::filesystem::remove(todaysLogFile());
    EXPECT_EQ("\nUnable to write log", std::string(text, length > 0 ? length : 0));
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Makes folder (and the levels above it) the temporary folder while in scope.
struct TemporaryFolderSetTo {
    explicit TemporaryFolderSetTo(const std::string& folder) {
        std::filesystem::create_directories(folder);
        setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TemporaryFolderSetTo() { setenv("TMPDIR", testFolder().c_str(), 1); }
};

// TMPDIR names the temporary folder only when it is a folder; else it is /tmp.
TEST_F(LogTest, TemporaryFolderFromTmpdirOnlyWhenAFolder) {
    const struct {
        const char* name;
        std::string tmpdir, expected;
    } rows[] = {
        {"a folder", testFolder(), testFolder() + "/"},
        {"no such folder", testFolder() + "/missing", "/tmp/"},
        {"empty", "", "/tmp/"},
    };
    for (const auto& row : rows) {
        setenv("TMPDIR", row.tmpdir.c_str(), 1);
        char buffer[zelmor::logPathBufferSize];
        ASSERT_TRUE(platform::getTempFolder(buffer, sizeof buffer)) << row.name;
        EXPECT_EQ(row.expected, buffer) << row.name;
    }
    setenv("TMPDIR", testFolder().c_str(), 1);
}

// The temporary folder is obtained when it fits its buffer with the
// terminator, and reported as not obtained when one byte is missing.
TEST_F(LogTest, TemporaryFolderFitsItsBufferWithTheTerminator) {
    const std::string folder = testFolder() + "/";  // TMPDIR names the test folder
    const struct {
        const char* name;
        std::size_t size;
        bool obtained;
    } rows[] = {{"a byte to spare", folder.size() + 2, true},
                {"exactly", folder.size() + 1, true},
                {"a byte short", folder.size(), false}};
    for (const auto& row : rows) {
        std::vector<char> buffer(row.size, 'x');
        EXPECT_EQ(row.obtained, platform::getTempFolder(buffer.data(), buffer.size())) << row.name;
    }
}

// A temporary folder whose path does not fit the path buffer is not used,
// even where the part that fits names a folder (here: one of its parents).
TEST_F(LogTest, TemporaryFolderTooLongForTheBufferIsNotUsed) {
    const std::size_t fits = zelmor::logPathBufferSize - 2;  // the parent and a separator fill the buffer
    std::string parent = testFolder() + "/";
    while (fits - parent.size() > 200) parent += std::string(199, 'p') + "/";
    parent += std::string(fits - parent.size(), 'q');
    TemporaryFolderSetTo tooLong(parent + "/inner");
    char buffer[zelmor::logPathBufferSize];
    EXPECT_EQ(-1, zelmor::getLogBaseFolderPath(buffer));
}

// Every folder and file opened for a line is closed again.
TEST_F(LogTest, LinesLeaveNoDescriptorOpen) {
    const auto openDescriptors = [] {
        const std::filesystem::directory_iterator entries("/proc/self/fd");
        return std::distance(begin(entries), end(entries));
    };
    zelmor::logDebug("first line");  // makes the folders
    const auto before = openDescriptors();
    for (int i = 0; i < 10; ++i) zelmor::logDebug("line");
    EXPECT_EQ(before, openDescriptors());
}

// Planting as another user needs root: rows that do come last, and on reaching
// the first of them without root the rest of the test is reported skipped.
const passwd* otherUser() {
    const passwd* nobody = getpwnam("nobody");
    return geteuid() == 0 && nobody != nullptr && nobody->pw_uid != 0 ? nobody : nullptr;
}
#define SKIP_WITHOUT_OTHER_USER(needed) \
    if ((needed) && otherUser() == nullptr) GTEST_SKIP() << "planting as another user needs root"

// (The folders' modes: see the shared level below.)
TEST_F(LogTest, FileIsCreatedPrivate) {
    zelmor::logDebug("line");
    EXPECT_EQ(0600u, modeOf(todaysLogFile()));
}

// The shared level is the one right below the temporary folder (01777), and
// the program's level below it is private (0700), whatever the temporary
// folder or the program is called.
TEST_F(LogTest, SharedLevelIsTheOneBelowTheTemporaryFolder) {
    struct Row {
        const char* name;
        std::string temporaryFolder, program;
    };
    const Row rows[] = {
        {"a program named Trevanic", testFolder() + "/named", "Trevanic"},
        {"a Trevanic level in the temporary folder", testFolder() + "/nested/Trevanic/tmp", "app"},
        {"a temporary folder named Trevanic", testFolder() + "/base/Trevanic", "app"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TemporaryFolderSetTo temporary(row.temporaryFolder);
        const std::string shared = row.temporaryFolder + "//Trevanic";
        zelmor::createLogFolder(shared + "/" + row.program + "/");
        char modes[32] = {};  // octal, as ls shows them
        std::snprintf(modes, sizeof modes, "%o %o", modeOf(shared), modeOf(shared + "/" + row.program));
        EXPECT_STREQ("1777 700", modes);
    }
}

// After a program named Trevanic has made its folders, another user's
// program still logs: the shared level stays open to every user.
TEST_F(LogTest, AnotherUserLogsAfterAProgramNamedTrevanic) {
    SKIP_WITHOUT_OTHER_USER(true);
    const uid_t user = otherUser()->pw_uid;
    const gid_t group = otherUser()->pw_gid;
    const std::string base = testFolder() + "/users";
    TemporaryFolderSetTo temporary(base);
    ASSERT_EQ(0, chmod(testFolder().c_str(), 0711));  // the other user may pass through
    ASSERT_EQ(0, chmod(base.c_str(), 0755));
    zelmor::createLogFolder(base + "//Trevanic/Trevanic/");
    const pid_t child = fork();
    if (child == 0) {
        const bool switched = setgroups(0, nullptr) == 0 && setgid(group) == 0 && setuid(user) == 0;
        if (switched) zelmor::writeLog(2, "another user");
        _exit(switched ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    chmod(testFolder().c_str(), 0700);
    ASSERT_EQ(0, status) << "the child could not become the other user";
    EXPECT_NE(std::string::npos, readFile(zelmor::logFolderPath() + todaysLogFile().substr(logFolder().size()))
                                     .find("another user"));
}

// An existing shared level is used only when it is a real folder that is
// sticky or the user's own: in anyone else's folder without the sticky bit,
// others could exchange the user's folder for one of theirs.
TEST_F(LogTest, ExistingSharedLevelMustBeStickyOrOwn) {
    struct Row {
        const char* name;
        bool needsOtherUser;
        std::function<int(const std::string& base)> plant;  // in the temporary folder base
        bool written;
    };
    const auto shared = [](const std::string& base) { return base + "//Trevanic"; };
    const auto worldWritable = [](const std::string& folder) {
        return mkdir(folder.c_str(), 0700) == 0 ? chmod(folder.c_str(), 0777) : -1;
    };
    const auto ofOtherUser = [&](const std::string& folder, mode_t mode) {
        return worldWritable(folder) == 0 && chmod(folder.c_str(), mode) == 0
                   ? chown(folder.c_str(), otherUser()->pw_uid, otherUser()->pw_gid)
                   : -1;
    };
    const Row rows[] = {
        {"link to a world-writable folder", false,
         [&](const std::string& base) {
             const std::string elsewhere = base + "/elsewhere";
             return worldWritable(elsewhere) == 0 ? symlink(elsewhere.c_str(), shared(base).c_str()) : -1;
         },
         false},
        {"own folder without the sticky bit", false,
         [&](const std::string& base) { return worldWritable(shared(base)); }, true},
        {"other user's folder without the sticky bit", true,
         [&](const std::string& base) { return ofOtherUser(shared(base), 0777); }, false},
        {"other user's sticky folder", true, [&](const std::string& base) { return ofOtherUser(shared(base), 01777); },
         true},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SKIP_WITHOUT_OTHER_USER(row.needsOtherUser);
        const std::string base = testFolder() + "/existing" + std::to_string(++index);
        TemporaryFolderSetTo temporary(base);
        ASSERT_EQ(0, row.plant(base));
        ::testing::internal::CaptureStdout();
        zelmor::logError("shared line");
        ::testing::internal::GetCapturedStdout();
        // Through a link this path leads into the folder linked to.
        EXPECT_EQ(row.written, readFile(zelmor::logFolderPath() + todaysLogFile().substr(logFolder().size()))
                                       .find("shared line") != std::string::npos);
    }
}

// A file's own folder is never taken for the shared level, even where the
// caller names it so: it must be private, and a world-writable one is refused.
TEST_F(LogTest, AFilesOwnFolderIsCheckedAsPrivate) {
    const std::string shared = testFolder() + "/sharedOnly";
    ASSERT_EQ(0, mkdir(shared.c_str(), 0700));
    ASSERT_EQ(0, chmod(shared.c_str(), 01777));
    EXPECT_FALSE(platform::openForSharedAppend((shared + "/file.LOG").c_str(), shared.size()));
}

// Another user may have planted something at the log path below the shared
// folder first: the line is dropped, never written there, and never blocks.
TEST_F(LogTest, PlantedLogPathIsRefused) {
    zelmor::logDebug("make folders");
    const std::string folder = logFolder(), file = todaysLogFile(), target = testFolder() + "/target";
    struct Row {
        const char* name;
        bool needsOtherUser;
        std::function<int()> plant;
    };
    const Row rows[] = {
        {"symbolic link", false, [&] { return symlink(target.c_str(), file.c_str()); }},
        {"FIFO", false, [&] { return mkfifo(file.c_str(), 0666); }},
        {"group-writable folder", false, [&] { return chmod(folder.c_str(), 0770); }},
        {"world-writable folder", false, [&] { return chmod(folder.c_str(), 01777); }},
        {"file of another user", true,
         [&] {
             close(open(file.c_str(), O_WRONLY | O_CREAT, 0600));
             return chown(file.c_str(), otherUser()->pw_uid, otherUser()->pw_gid);
         }},
        {"folder of another user", true,
         [&] { return chown(folder.c_str(), otherUser()->pw_uid, otherUser()->pw_gid); }},
        // Opened like a file, but no regular file: writes there would vanish (/dev/null).
        {"device", true, [&] { return mknod(file.c_str(), S_IFCHR | 0600, makedev(1, 3)); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SKIP_WITHOUT_OTHER_USER(row.needsOtherUser);
        removeFile(file);
        ASSERT_EQ(0, row.plant());
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

// The file opened is the one its path names, a relative path included: the
// file's name is opened inside the folder opened just before.
TEST_F(LogTest, FileOpenedIsTheOneThePathNames) {
    const std::string folder = testFolder() + "/relative";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    ASSERT_EQ(0, mkdir((folder + "/own").c_str(), 0700));
    char previous[PATH_MAX] = {};
    ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
    ASSERT_EQ(0, chdir(folder.c_str()));
    struct Row {
        const char* name;
        std::string path, file;
    };
    const Row rows[] = {
        {"absolute path", folder + "/own/absolute.LOG", folder + "/own/absolute.LOG"},
        {"relative path", "own/relative.LOG", folder + "/own/relative.LOG"},
        {"name alone", "alone.LOG", folder + "/alone.LOG"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (platform::FilePtr file = platform::openForSharedAppend(row.path.c_str())) std::fputs("text", file.get());
        EXPECT_EQ("text", readFile(row.file));
    }
    ASSERT_EQ(0, chdir(previous));
}
#endif
