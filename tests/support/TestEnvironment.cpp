#include "TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include "ModuleLoader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace testing_support {

namespace {

#if defined(_WIN32)
const char* const zelmorKey = "Software\\Trevanic\\Zelmor";
const char* const folderEnd = "\\";  // the end of the temporary folder the module is given
#else
const char* const folderEnd = "/";
#endif

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

// The module's settings: values of its registry key (Windows) or files of
// its configuration folder (Linux), written as a REG_DWORD or decimal text
// when `number`, else as a REG_SZ or raw text.
void setSetting(const char* name, const std::string& text, bool number) {
#if defined(_WIN32)
    const DWORD value = number ? std::stoul(text) : 0;
    if (number) RegSetKeyValueA(HKEY_LOCAL_MACHINE, zelmorKey, name, REG_DWORD, &value, sizeof value);
    else RegSetKeyValueA(HKEY_LOCAL_MACHINE, zelmorKey, name, REG_SZ, text.c_str(), DWORD(text.size() + 1));
#else
    std::ofstream(testFolder() + "/config/" + name, std::ios::trunc) << text << (number ? "\n" : "");
#endif
}

void removeSetting(const char* name) {
#if defined(_WIN32)
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, zelmorKey, name);
#else
    std::remove((testFolder() + "/config/" + name).c_str());
#endif
}

}  // namespace

const std::string& testFolder() {
    static const std::string folder = makeFolder();
    return folder;
}

void prepareTestEnvironment() {
#if defined(_WIN32)
    std::string folder = testFolder() + folderEnd;
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
    // The Wine prefix keeps the registry from earlier runs.
    removeSetting("standardsMode");
#else
    setenv("TMPDIR", testFolder().c_str(), 1);
    std::string config = testFolder() + "/config";
    mkdir(config.c_str(), 0700);
    setenv("ZELMOR_CONFIG_DIR", config.c_str(), 1);
#endif
}

void setLogLevel(unsigned value) { setSetting("logLevel", std::to_string(value), true); }
void setLogLevelText(const std::string& text) { setSetting("logLevel", text, false); }
void removeLogLevel() { removeSetting("logLevel"); }
void setStandardsMode(unsigned value) { setSetting("standardsMode", std::to_string(value), true); }
void removeStandardsMode() { removeSetting("standardsMode"); }

std::string processName() {
    const std::string name = executablePath().substr(executablePath().find_last_of("\\/") + 1);
    return name.substr(0, name.find('.'));
}

std::string logFolder() { return testFolder() + folderEnd + "/Trevanic/" + processName() + "/"; }

std::string todaysLogFile() {
    std::time_t now = std::time(nullptr);
    char date[32] = {};
    std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
    return logFolder() + date + ".LOG";
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void removeFile(const std::string& path) { std::remove(path.c_str()); }

}  // namespace testing_support
