// POSIX stand-ins for the file, folder, process and time services.
#include "platform/Platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>
#include <vector>

namespace platform {

namespace {
std::string readSelfExe() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();  // empty on error
}

// Owns an open file descriptor (or -1).
class Descriptor {
public:
    explicit Descriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (valid()) ::close(descriptor_);
    }
    Descriptor(Descriptor&& other) noexcept : descriptor_(other.release()) {}
    // The descriptor held before goes to other, which closes it.
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(descriptor_, other.descriptor_);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    bool valid() const { return descriptor_ >= 0; }
    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_;
};

// Opens the folder name inside parent without following a link, making it
// first when create is set, and returns it when it may serve as that level:
// the shared level must be sticky or the user's own (in anyone else's folder
// without the sticky bit, others could exchange what lies inside), a private
// level must be the user's own and writable by nobody else. A level made here
// gets its mode on the opened folder, since the umask may have cleared bits.
Descriptor openLevel(int parent, const std::string& name, bool shared, bool create, bool* created) {
    const mode_t mode = shared ? 01777 : 0700;
    const bool made = create && ::mkdirat(parent, name.c_str(), mode) == 0;
    if (created != nullptr) *created = made;
    Descriptor level(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!level.valid() || ::fstat(level.get(), &status) != 0) return Descriptor();
    const bool own = status.st_uid == ::geteuid();
    if (made && own && (status.st_mode & 07777) != mode && ::fchmod(level.get(), mode) == 0) {
        status.st_mode = (status.st_mode & ~07777) | mode;
    }
    const bool usable = shared ? own || (status.st_mode & S_ISVTX) != 0
                               : own && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    return usable ? std::move(level) : Descriptor();
}

// Opens the last folder level of path (see createFolders), making the missing
// levels when create is set; lastCreated tells whether the last one was made.
// The levels before the shared level, or without one before the last level,
// are the user's own choice of temporary folder: they are reached by path,
// links included. From there on each level is opened inside the one before.
Descriptor walkFolders(const std::string& path, std::size_t sharedLevel, bool create, bool* lastCreated) {
    const bool hasShared = sharedLevel > 0;  // the caller's level ends a folder name
    const std::size_t lastCharacter = path.find_last_not_of('/');
    std::size_t start = path.size();
    if (hasShared) {
        start = path.rfind('/', sharedLevel - 1) + 1;  // npos + 1 is 0: no folder before it
    } else if (lastCharacter != std::string::npos) {
        start = path.rfind('/', lastCharacter) + 1;
    }
    const std::string before = path.substr(0, start);
    if (create) {
        for (std::size_t i = 1; i < before.size(); ++i) {
            if (before[i] == '/') ::mkdir(before.substr(0, i).c_str(), 0700);
        }
    }
    // Walking through that folder needs search permission only.
#if defined(O_PATH)
    const int searchOnly = O_PATH;
#else
    const int searchOnly = O_RDONLY;
#endif
    Descriptor folder(::open(before.empty() ? "." : before.c_str(), searchOnly | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> levels;
    for (std::size_t begin = start; begin < path.size();) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos) end = path.size();
        if (end > begin) levels.push_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    if (levels.empty()) levels.emplace_back(".");  // an empty path, or the root folder
    for (std::size_t i = 0; i < levels.size() && folder.valid(); ++i) {
        folder = openLevel(folder.get(), levels[i], hasShared && i == 0, create, lastCreated);
    }
    return folder;
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
    // As GetTempPathA: a folder that does not fit is written cut and reported as not obtained.
    return length == folder.size();
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

bool createFolders(const char* path, std::size_t sharedLevel) {
    bool created = false;
    return walkFolders(path, sharedLevel, true, &created).valid() && created;
}

LocalTime localTimeNow() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm local {};
    ::localtime_r(&now.tv_sec, &local);
    return {local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
            static_cast<int>(now.tv_nsec / 1000000)};
}

std::string getEnvironmentVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

FilePtr openForSharedAppend(const char* path, std::size_t sharedLevel) {
    // The log lives below a folder that every user may write to, so another
    // user could have put something at this path first. Write only into a
    // folder of our own that nobody else may write to, reached without
    // following links from the shared level on, and only into a regular file
    // of our own: a planted link is not followed, and a planted FIFO or device
    // cannot block the caller (O_NONBLOCK), it is refused after fstat.
    const std::string text(path);
    const std::size_t slash = text.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    // The file's own folder is never the shared level: it is checked as a private level.
    const std::size_t shared = sharedLevel < folder.size() ? sharedLevel : 0;
    const Descriptor folderDescriptor = walkFolders(folder, shared, false, nullptr);
    if (!folderDescriptor.valid()) return FilePtr();
    Descriptor descriptor(::openat(folderDescriptor.get(), name.c_str(),
                                   O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat status {};
    if (!descriptor.valid() || ::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid()) {
        return FilePtr();
    }
    std::FILE* file = ::fdopen(descriptor.get(), "ab");
    if (file != nullptr) descriptor.release();
    return FilePtr(file);
}

void freeDeviceLibraryBuffer(void* buffer) { std::free(buffer); }

char pathSeparator() { return '/'; }

std::vector<std::string> defaultInstallFolders() {
    return {"/opt/trevanic/zelmor", "/usr/local/share/trevanic/zelmor"};
}

bool processIsExiting() { return false; }

}  // namespace platform
