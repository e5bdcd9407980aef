#include "SecureFiles.h"

#include "FileDescriptor.h"
#include "StoreError.h"
#include "WriteFaults.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace zelmor::sim {

namespace {

std::string systemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, const uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string uniqueTempName(const std::string& name) {
    static std::atomic<unsigned long> counter{0};
    return std::string(tempFilePrefix) + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

std::optional<FileStamp> stampOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    FileStamp stamp;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = static_cast<int64_t>(info.st_size);
    stamp.modified = info.st_mtim;
    return stamp;
}

std::optional<Bytes> readWholeFile(const std::string& path, std::size_t maxSize, bool followLinks) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW)));
    if (!fd.valid()) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<uint64_t>(info.st_size) > maxSize)
        return std::nullopt;
    Bytes content(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t got = ::read(fd.get(), content.data() + done, content.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;  // shrunk while reading, or an error
        done += static_cast<std::size_t>(got);
    }
    return content;
}

void writeFileAtomically(const std::string& folder, const std::string& name, const uint8_t* data, std::size_t size) {
    const std::string tempPath = folder + "/" + uniqueTempName(name);
    const std::string finalPath = folder + "/" + name;
    FileDescriptor fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) throw StoreError(systemError("cannot create", tempPath));

    if (writefaults::consumeWriteFault()) {
        writeAll(fd.get(), data, size / 2);
        throw StoreError("injected write failure for " + finalPath);
    }
    if (!writeAll(fd.get(), data, size) || ::fsync(fd.get()) != 0) {
        const std::string message = systemError("cannot write", tempPath);
        ::unlink(tempPath.c_str());
        throw StoreError(message);
    }
    fd.reset();
    if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        const std::string message = systemError("cannot rename onto", finalPath);
        ::unlink(tempPath.c_str());
        throw StoreError(message);
    }
    syncFolder(folder);
}

void syncFolder(const std::string& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() || ::fsync(fd.get()) != 0) throw StoreError(systemError("cannot flush folder", folder));
}

bool isRealFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void makePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return;
    if (errno == EEXIST && isRealFolder(path)) return;
    throw StoreError(systemError("cannot create folder", path));
}

void makePrivateFolderTree(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        struct stat info {};
        if (::stat(prefix.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;  // links above the store are the user's choice
        makePrivateFolder(prefix);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return;
    makePrivateFolder(path);
}

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    return names;
}

bool removeFolderTree(const std::string& path) {
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) return true;
    auto removeOne = [](const char* entry, const struct stat*, int type, FTW*) -> int {
        return type == FTW_DP ? ::rmdir(entry) : ::unlink(entry);
    };
    return ::nftw(path.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

}  // namespace zelmor::sim
