#include "TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#endif

namespace testing_support {

namespace {

std::string makeFolder() {
#if defined(_WIN32)
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    std::string folder = std::string(base) + "zelmor-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetTickCount());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
#else
    std::string pattern = "/tmp/zelmor-test-XXXXXX";
    char* made = mkdtemp(&pattern[0]);
    return made != nullptr ? std::string(made) : std::string("/tmp");
#endif
}

#if defined(_WIN32)
void setRegistryValue(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Trevanic\\Zelmor", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                    nullptr);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void removeRegistryValue(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Trevanic\\Zelmor", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}
#else
std::string configFile(const char* name = "logLevel") { return testFolder() + "/config/" + name; }
#endif

}  // namespace

const std::string& testFolder() {
    static const std::string folder = makeFolder();
    return folder;
}

void prepareTestEnvironment() {
#if defined(_WIN32)
    std::string folder = testFolder() + "\\";
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
    // The Wine prefix keeps the registry from earlier runs.
    removeRegistryValue("standardsMode");
#else
    setenv("TMPDIR", testFolder().c_str(), 1);
    std::string config = testFolder() + "/config";
    mkdir(config.c_str(), 0700);
    setenv("ZELMOR_CONFIG_DIR", config.c_str(), 1);
#endif
}

void setLogLevel(unsigned value) {
#if defined(_WIN32)
    DWORD data = value;
    setRegistryValue("logLevel", REG_DWORD, &data, sizeof data);
#else
    std::ofstream(configFile(), std::ios::trunc) << value << "\n";
#endif
}

void setLogLevelText(const std::string& text) {
#if defined(_WIN32)
    setRegistryValue("logLevel", REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
#else
    std::ofstream(configFile(), std::ios::trunc) << text;
#endif
}

void removeLogLevel() {
#if defined(_WIN32)
    removeRegistryValue("logLevel");
#else
    std::remove(configFile().c_str());
#endif
}

void setStandardsMode(unsigned value) {
#if defined(_WIN32)
    DWORD data = value;
    setRegistryValue("standardsMode", REG_DWORD, &data, sizeof data);
#else
    std::ofstream(configFile("standardsMode"), std::ios::trunc) << value << "\n";
#endif
}

void removeStandardsMode() {
#if defined(_WIN32)
    removeRegistryValue("standardsMode");
#else
    std::remove(configFile("standardsMode").c_str());
#endif
}

std::string processName() {
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path);
    name = name.substr(name.find_last_of("\\/") + 1);
#else
    char path[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string name(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    name = name.substr(name.rfind('/') + 1);
#endif
    return name.substr(0, name.find('.'));
}

std::string logFolder() {
#if defined(_WIN32)
    return testFolder() + "\\/Trevanic/" + processName() + "/";
#else
    return testFolder() + "//Trevanic/" + processName() + "/";
#endif
}

std::string todaysLogFile() {
    std::time_t now = std::time(nullptr);
    char date[32] = {};
    std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
    return logFolder() + date + ".LOG";
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void removeFile(const std::string& path) { std::remove(path.c_str()); }

}  // namespace testing_support
