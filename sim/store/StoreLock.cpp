#include "StoreLock.h"

#include "StoreError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>

namespace zelmor::sim {

StoreLock::StoreLock(const std::string& storeFolder, Mode mode) {
    const std::string path = storeFolder + "/.lock";
    fd_ = FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd_.valid() && errno == EACCES) fd_ = FileDescriptor(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd_.valid()) {
        if (mode == Mode::shared && errno == ENOENT) return;
        throw StoreError("cannot open lock file " + path + ": " + std::strerror(errno));
    }
    const int operation = mode == Mode::shared ? LOCK_SH : LOCK_EX;
    while (::flock(fd_.get(), operation) != 0) {
        if (errno != EINTR) throw StoreError("cannot lock " + path + ": " + std::strerror(errno));
    }
}

StoreLock::~StoreLock() {
    if (fd_.valid()) ::flock(fd_.get(), LOCK_UN);
}

}  // namespace zelmor::sim
