// Linux stand-in for the registry values ("logLevel", "standardsMode"): the
// file of that name in $ZELMOR_CONFIG_DIR (default /etc/trevanic/zelmor)
// holding a decimal number. Like the registry, the parsed value is kept in
// memory and the file is read again only when stat shows that it changed.
#include "platform/Platform.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace platform {

namespace {

// Plain data with static storage: still usable while the module's static
// objects are destroyed, and nothing to leak when the module is unloaded.
constexpr std::size_t cachedPathSize = 512;

struct CachedValue {
    char path[cachedPathSize] = {};
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    bool readable = false;
    uint32_t value = 0;
};

bool sameFile(const CachedValue& cached, const std::string& path, const struct stat& status) {
    return cached.present && path == cached.path && cached.device == status.st_dev &&
           cached.inode == status.st_ino && cached.size == status.st_size &&
           cached.modified.tv_sec == status.st_mtim.tv_sec && cached.modified.tv_nsec == status.st_mtim.tv_nsec;
}

// One entry per setting file; the log level is read for every line, so a
// read of another setting must not evict it.
constexpr std::size_t cacheEntries = 4;
CachedValue cache[cacheEntries];
std::size_t nextEvicted = 0;
std::mutex cacheMutex;  // constant-initialised, trivially destroyed

// The entry that holds path, else the one to reuse for it.
CachedValue& entryFor(const std::string& path) {
    for (CachedValue& entry : cache) {
        if (entry.present && path == entry.path) return entry;
    }
    for (CachedValue& entry : cache) {
        if (!entry.present) return entry;
    }
    CachedValue& evicted = cache[nextEvicted];
    nextEvicted = (nextEvicted + 1) % cacheEntries;
    return evicted;
}

bool parseNumberFile(const std::string& path, uint32_t* value) {
    std::ifstream file(path);
    if (!file) return false;
    std::string text;
    std::getline(file, text, '\0');
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(begin, &end, 10);
    if (end == begin || errno != 0) return false;
    while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') ++end;
    if (*end != '\0') return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

}  // namespace

bool readSettingValue(const char* name, uint8_t (&data)[32], bool /*dwordOnly: always a number here*/) {
    std::string folder = getEnvironmentVariable("ZELMOR_CONFIG_DIR");
    if (folder.empty()) folder = "/etc/trevanic/zelmor";
    std::string path = folder + "/" + name;

    struct stat status {};
    bool exists = ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);

    std::lock_guard<std::mutex> guard(cacheMutex);
    CachedValue& cached = entryFor(path);
    if (!exists) {
        cached.present = false;
        return false;
    }
    if (!sameFile(cached, path, status)) {
        // A path too long for the cache is read every time.
        cached.present = path.size() < cachedPathSize;
        std::memset(cached.path, 0, sizeof cached.path);
        if (cached.present) std::memcpy(cached.path, path.data(), path.size());
        cached.device = status.st_dev;
        cached.inode = status.st_ino;
        cached.size = status.st_size;
        cached.modified = status.st_mtim;
        cached.readable = parseNumberFile(path, &cached.value);
    }
    if (!cached.readable) return false;
    // Returned as the four little-endian bytes of a REG_DWORD.
    std::memset(data, 0, sizeof data);
    for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(cached.value >> (8 * i));
    return true;
}

}  // namespace platform
