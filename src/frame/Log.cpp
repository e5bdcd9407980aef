#include "frame/Log.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>

#include "platform/Platform.h"
#include "utils/Utils.h"

namespace zelmor {

namespace {

const char sharedFolderName[] = "/Trevanic/";

// Constant-initialised and trivially destroyed: the monitor thread may still
// log while the module's other static objects are destroyed at unload.
std::mutex logMutex;

void toStandardOutput(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

const char* tagFor(int severity) {
    switch (severity) {
        case 1: return "EXCEP ::=>";
        case 2: return "ERROR ::=>";
        case 3: return "DEBUG ::=>";
        default: return "INFO  ::=>";
    }
}

std::string currentDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

std::string lineStamp() {
    platform::LocalTime now = platform::localTimeNow();
    char stamp[64] = {};
    std::snprintf(stamp, sizeof stamp, "%02d/%02d::%02d:%02d:%02d:%03d-> ", now.day, now.month, now.hour,
                  now.minute, now.second, now.millisecond);
    return stamp;
}

// Keeps at most the 1023 bytes that fit the path buffer with its terminator.
std::string cutToPathBuffer(std::string path) {
    if (path.size() >= logPathBufferSize) path.resize(logPathBufferSize - 1);
    return path;
}

// The temporary folder, or nothing when it cannot be obtained.
std::string baseFolder() {
    char base[logPathBufferSize];
    if (getLogBaseFolderPath(base) != 0) base[0] = '\0';
    return base;
}

// The length of the shared level, the base folder followed by "/Trevanic",
// when path starts with it, else 0. It is found from the base folder's length
// and never by searching the path for the name: the base folder or the
// process may themselves be called "Trevanic".
std::size_t sharedLevelOf(const std::string& path, const std::string& base) {
    // compare() stops at the end of a shorter path, which then differs.
    const std::size_t length = base.size() + sizeof sharedFolderName - 2;
    const bool shared = path.compare(0, base.size(), base) == 0 &&
                        path.compare(base.size(), length - base.size(), sharedFolderName, length - base.size()) == 0 &&
                        (path.size() == length || path[length] == '/');
    return shared ? length : 0;
}

}  // namespace

int getLogLevel() {
    uint8_t data[32];
    if (!platform::readSettingValue("logLevel", data)) return logLevelError;
    int level = static_cast<int8_t>(data[0]);
    return level > logLevelDebug ? logLevelError : level;
}

void logDebug(std::string message) {
    if (getLogLevel() >= logLevelDebug) writeLog(3, std::move(message));
}

void logError(std::string message) {
    if (getLogLevel() >= logLevelError) writeLog(2, std::move(message));
}

bool isDirectory(const std::string& path) { return platform::isDirectory(path.c_str()); }

int getLogBaseFolderPath(char* buffer) {
    try {
        std::memset(buffer, 0, logPathBufferSize);
        if (platform::getTempFolder(buffer, logPathBufferSize) && isDirectory(buffer)) return 0;
        std::memset(buffer, 0, logPathBufferSize);
        return -1;
    } catch (const std::exception& error) {
        toStandardOutput(std::string("Exception in getLogBaseFolderPath(): ") + error.what() + "\n");
        return -1;
    }
}

std::string getProcessName() {
    try {
        std::string name = platform::getProcessFileName();
        if (name.empty()) return name;
        return Utils().split(name, ".").front();
    } catch (const std::exception& error) {
        toStandardOutput(std::string("Exception in getProcessName(): ") + error.what() + "\n");
        return "ZelmorKey Interface";
    }
}

bool createLogFolder(const std::string& path) {
    try {
        // The shared "Trevanic" level right below the temporary folder is made
        // for every user of the machine; the levels below it belong to this
        // user only.
        const std::string copy = cutToPathBuffer(path);
        return platform::createFolders(copy.c_str(), sharedLevelOf(copy, baseFolder()));
    } catch (const std::exception& error) {
        toStandardOutput(std::string("Exception in Create Log Folder: ") + error.what() + "\n");
        return false;
    }
}

std::string logFolderPath() {
    char base[logPathBufferSize];
    if (getLogBaseFolderPath(base) != 0) {
        toStandardOutput("\nUnable to getLogBaseFolderPath");
        base[0] = '\0';
    }
    return cutToPathBuffer(std::string(base) + sharedFolderName + getProcessName() + "/");
}

void writeLog(int severity, std::string message) {
    try {
        std::string folder = logFolderPath();
        createLogFolder(folder);
        std::string path = cutToPathBuffer(folder + currentDate() + ".LOG");
        const std::size_t sharedLevel = sharedLevelOf(path, baseFolder());

        std::lock_guard<std::mutex> guard(logMutex);
        platform::FilePtr file = platform::openForSharedAppend(path.c_str(), sharedLevel);
        if (file && !std::ferror(file.get())) {
            std::string line = lineStamp();
            line += "->";
            line += tagFor(severity);
            line += message;
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), file.get());  // the close flushes it
        } else {
            toStandardOutput("\nUnable to write log");
        }
    } catch (const std::exception& error) {
        toStandardOutput(std::string("Exception in write log : ") + error.what() + "\n");
    } catch (...) {
        toStandardOutput("Exception in write log : unknown\n");
    }
}

std::string toHex(const void* data, std::size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace zelmor
