// Every operating-system call of the module goes through this interface.
// platform/windows/ holds the Win32 implementation, platform/posix/ the Linux
// stand-ins; the module's logic above it is the same on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Reads the raw configuration value name ("logLevel", "standardsMode") into a
// zero-filled 32-byte buffer: the registry value under
// HKLM\Software\Trevanic\Zelmor on Windows (of any type, or only a REG_DWORD
// when dwordOnly is set), the file of that name in $ZELMOR_CONFIG_DIR on
// POSIX (a decimal number, given as the 4 bytes of a REG_DWORD). False when
// the value cannot be read (missing, unreadable, too long, another type).
bool readSettingValue(const char* name, uint8_t (&data)[32], bool dwordOnly = false);

// Copies the temporary folder, ending with the platform's separator, into
// buffer (zero-terminated, cut to size). False when it cannot be obtained or
// does not fit.
bool getTempFolder(char* buffer, std::size_t size);

// Executable file name of the current process ("app.test.exe"), or empty.
std::string getProcessFileName();

// Folder holding the current executable, without a trailing separator, or empty.
std::string getExecutableFolder();

#if defined(_WIN32)
// getExecutableFolder's work on what moduleFileName reports, which behaves as
// GetModuleFileNameA(NULL, buffer, size) does (a cut path returns size).
std::string executableFolderFrom(const std::function<unsigned long(char*, unsigned long)>& moduleFileName);
#endif

bool isDirectory(const char* path);
bool pathExists(const char* path);

// Creates every missing folder level of path (levels end at each '/') and
// reports whether the last level was created by this call. sharedLevel is the
// length of the path's prefix that names the level several users' processes
// write into (a folder name's end: a separator or the path's end follows), or
// 0 when the path has none. POSIX: the levels before the shared
// level (or, without one, before the last level) are made by path; from there
// on each level is made and opened inside the one before without following
// links, and its mode is set on the opened folder. The shared level gets mode
// 01777 and is used only when it is a real folder that is sticky or the
// user's own; the levels below it get 0700 and are used only when they are
// the user's own and nobody else may write to them.
bool createFolders(const char* path, std::size_t sharedLevel);

// The local time of a log line's stamp (which carries no year).
struct LocalTime {
    int month, day, hour, minute, second, millisecond;
};
LocalTime localTimeNow();

// Environment variable value; empty when it is not set.
std::string getEnvironmentVariable(const char* name);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for appending in binary mode so that other handles (threads,
// processes) may have it open at the same time. POSIX: the folders are walked
// as createFolders checks them (sharedLevel alike), without making any, and
// the file is opened by its name inside the last one: only a regular file of
// the user's own, created 0600; no link is followed and the open never blocks.
FilePtr openForSharedAppend(const char* path, std::size_t sharedLevel = 0);

// Releases a buffer that the device library allocated on the process heap.
void freeDeviceLibraryBuffer(void* buffer);

// Folder separator used in paths the module builds ('\\' or '/').
char pathSeparator();

// The two default install folders tried for CA certificates when ZELMOR_HOME is unset.
std::vector<std::string> defaultInstallFolders();

// Runs step again and again, pausing pauseMilliseconds after each run, until
// step returns false or the task is joined; one run at a time. Joining ends a
// pause at once. POSIX: a thread of its own that waits out the pause on a stop
// signal. Windows: a thread-pool timer, so that between runs no thread is in
// the module and unloading it can cancel the task (WindowsThread.cpp).
class RepeatingTask {
public:
    RepeatingTask();
    ~RepeatingTask();
    RepeatingTask(const RepeatingTask&) = delete;
    RepeatingTask& operator=(const RepeatingTask&) = delete;

    bool start(std::function<bool()> step, unsigned pauseMilliseconds);
    // Started and not yet joined or detached.
    bool joinable() const;
    // True when called from inside step.
    bool isCurrentThread() const;
    // Returns once step runs no more and will not run again, and gives true.
    // Windows, when the module is being unloaded: a run that is executing is
    // not waited for; the module stays loaded for it and false is returned
    // (the objects that step uses must then be left alive).
    bool join();
    // Forgets the task without waiting (process exit: its threads are gone).
    void detach();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// True once the process has started to exit (Windows DllMain detach at
// process exit); threads must not be joined any more then.
bool processIsExiting();

}  // namespace platform
