// POSIX stand-ins for the file, folder, process and time services.
#include "platform/Platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace platform {

namespace {
std::string readSelfExe() {
    char path[PATH_MAX + 1] = {};
    ssize_t length = ::readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0) return {};
    return std::string(path, static_cast<std::size_t>(length));
}
}  // namespace

bool getTempFolder(char* buffer, std::size_t size) {
    if (size == 0) return false;
    std::string folder = "/tmp";
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && *tmpdir != '\0' && isDirectory(tmpdir)) folder = tmpdir;
    folder += '/';
    std::size_t length = folder.size() < size - 1 ? folder.size() : size - 1;
    std::memcpy(buffer, folder.data(), length);
    buffer[length] = '\0';
    return true;
}

std::string getProcessFileName() {
    std::string path = readSelfExe();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string getExecutableFolder() {
    std::string path = readSelfExe();
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash);
}

bool isDirectory(const char* path) {
    struct stat status {};
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool pathExists(const char* path) {
    struct stat status {};
    return ::stat(path, &status) == 0;
}

bool createDirectory(const char* path, bool shared) {
    if (!shared) return ::mkdir(path, 0700) == 0;
    if (::mkdir(path, 01777) != 0) return false;
    // The umask may have cleared bits: set the mode the shared folder needs.
    ::chmod(path, 01777);
    return true;
}

LocalTime localTimeNow() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm local {};
    ::localtime_r(&now.tv_sec, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
            local.tm_min,        local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

std::string getEnvironmentVariable(const char* name, bool* found) {
    const char* value = std::getenv(name);
    if (found != nullptr) *found = value != nullptr;
    return value != nullptr ? std::string(value) : std::string();
}

FilePtr openForSharedAppend(const char* path) {
    // The log lives below a folder that every user may write to, so another
    // user could have put something at this path first. Write only into a
    // folder of our own that nobody else may write to, and only into a
    // regular file of our own: no link is followed, and a planted FIFO or
    // device cannot block the caller (O_NONBLOCK), it is refused after fstat.
    const std::string text(path);
    const std::size_t slash = text.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    const uid_t user = ::geteuid();

    int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderDescriptor < 0) return FilePtr();
    struct stat status {};
    const bool ownFolder = ::fstat(folderDescriptor, &status) == 0 && S_ISDIR(status.st_mode) &&
                           status.st_uid == user && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    int descriptor = ownFolder ? ::openat(folderDescriptor, name.c_str(),
                                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600)
                               : -1;
    ::close(folderDescriptor);
    if (descriptor < 0) return FilePtr();
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != user) {
        ::close(descriptor);
        return FilePtr();
    }
    std::FILE* file = ::fdopen(descriptor, "ab");
    if (file == nullptr) ::close(descriptor);
    return FilePtr(file);
}

void freeDeviceLibraryBuffer(void* buffer) { std::free(buffer); }

char pathSeparator() { return '/'; }

const char* const* defaultInstallFolders(std::size_t* count) {
    static const char* const folders[] = {"/opt/trevanic/zelmor", "/usr/local/share/trevanic/zelmor"};
    *count = 2;
    return folders;
}

bool processIsExiting() { return false; }

}  // namespace platform
