#include "ChangeCounter.h"

#include "FileDescriptor.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelmor::sim {

namespace {
constexpr const char* counterFileName = "/.changes";
constexpr std::size_t counterSize = sizeof(uint64_t);
}  // namespace

ChangeCounter::ChangeCounter(std::string storeFolder) : path_(std::move(storeFolder) + counterFileName) {}

ChangeCounter::~ChangeCounter() {
    if (const uint64_t* mapped = mapped_.load()) ::munmap(const_cast<uint64_t*>(mapped), counterSize);
    for (void* retired : retiredMappings_) ::munmap(retired, counterSize);
}

std::optional<uint64_t> ChangeCounter::value() const {
    const uint64_t* mapped = mapped_.load(std::memory_order_acquire);
    if (mapped == nullptr) return std::nullopt;
    return __atomic_load_n(mapped, __ATOMIC_ACQUIRE);
}

void ChangeCounter::refresh() {
    std::lock_guard<std::mutex> guard(mutex_);
    FileDescriptor fd(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < static_cast<off_t>(counterSize))
        return;
    if (mapped_.load() != nullptr && info.st_ino == mappedInode_) return;
    void* mapping = ::mmap(nullptr, counterSize, PROT_READ, MAP_SHARED, fd.get(), 0);
    if (mapping == MAP_FAILED) return;
    if (const uint64_t* old = mapped_.load()) retiredMappings_.push_back(const_cast<uint64_t*>(old));
    mappedInode_ = info.st_ino;
    mapped_.store(static_cast<const uint64_t*>(mapping), std::memory_order_release);
}

void ChangeCounter::raise(const std::string& storeFolder) {
    const std::string path = storeFolder + counterFileName;
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) return;
    uint64_t count = 0;
    if (::pread(fd.get(), &count, counterSize, 0) != static_cast<ssize_t>(counterSize)) count = 0;
    ++count;
    (void)!::pwrite(fd.get(), &count, counterSize, 0);
}

}  // namespace zelmor::sim
