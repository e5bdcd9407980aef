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
// An entry belongs to one setting name and remembers the identity and stamp
// of the file it was read from: a file at another path (another
// $ZELMOR_CONFIG_DIR) or a changed one differs in them and is read again.
struct CachedValue {
    char name[32] = {};  // empty: a free entry
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    bool readable = false;
    uint32_t value = 0;
};

bool sameFile(const CachedValue& cached, const struct stat& status) {
    return cached.device == status.st_dev && cached.inode == status.st_ino && cached.size == status.st_size &&
           cached.modified.tv_sec == status.st_mtim.tv_sec && cached.modified.tv_nsec == status.st_mtim.tv_nsec;
}

// Entries are claimed by names in the order of their first read and kept:
// the log level, read for every line, is never pushed out by another one.
CachedValue cache[4];
std::mutex cacheMutex;  // constant-initialised, trivially destroyed

// The entry of name; null when every entry is taken or the name does not fit
// one (such a setting is read every time).
CachedValue* entryFor(const char* name) {
    for (CachedValue& entry : cache) {
        if (entry.name[0] == '\0' && std::strlen(name) < sizeof entry.name) std::strcpy(entry.name, name);
        if (std::strncmp(entry.name, name, sizeof entry.name) == 0) return &entry;
    }
    return nullptr;
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
    const std::string path = folder + "/" + name;

    // Only a regular file is read: opening a FIFO planted there would block.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;

    std::lock_guard<std::mutex> guard(cacheMutex);
    CachedValue uncached;
    CachedValue* entry = entryFor(name);
    CachedValue& cached = entry != nullptr ? *entry : uncached;
    if (!sameFile(cached, status)) {
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
