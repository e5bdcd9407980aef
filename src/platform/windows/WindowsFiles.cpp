// Win32 implementation of the file, folder, process, registry and time services.
#include "platform/Platform.h"

#include <windows.h>
#include <psapi.h>
#include <share.h>

#include <cstdlib>
#include <cstring>

namespace platform {

bool readSettingValue(const char* name, uint8_t (&data)[32], bool dwordOnly) {
    std::memset(data, 0, sizeof data);
    DWORD size = sizeof data;
    LSTATUS status = RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Trevanic\\Zelmor", name,
                                  dwordOnly ? RRF_RT_REG_DWORD : RRF_RT_ANY, nullptr, data, &size);
    return status == ERROR_SUCCESS;
}

bool getTempFolder(char* buffer, std::size_t size) {
    DWORD length = GetTempPathA(static_cast<DWORD>(size), buffer);
    return length != 0 && length < size;
}

std::string getProcessFileName() {
    char name[1024] = {};
    DWORD length = K32GetModuleBaseNameA(GetCurrentProcess(), nullptr, name, sizeof name);
    if (length == 0) return {};
    return std::string(name, length);
}

std::string executableFolderFrom(const std::function<unsigned long(char*, unsigned long)>& moduleFileName) {
    // A path longer than the buffer comes back cut (its length equals the
    // buffer size): ask again with a larger buffer rather than naming a folder
    // that does not exist. 32767 characters is the longest path Windows has.
    std::string path;
    for (unsigned long size = MAX_PATH;; size *= 2) {
        if (size > 32768) size = 32768;
        path.assign(size, '\0');
        unsigned long length = moduleFileName(&path[0], size);
        if (length == 0) return {};
        if (length < size) {
            path.resize(length);
            break;
        }
        if (size == 32768) return {};
    }
    std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) return path;  // no folder part: the name is all there is
    return path.substr(0, separator);
}

std::string getExecutableFolder() {
    return executableFolderFrom([](char* buffer, unsigned long size) -> unsigned long {
        return GetModuleFileNameA(nullptr, buffer, size);
    });
}

bool isDirectory(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool pathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool createFolders(const char* path, std::size_t) {
    // Every level in turn; one that exists or cannot be made does not stop the walk.
    // A separator at the end names the same last level.
    std::string text(path);
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '/') CreateDirectoryA(text.substr(0, i).c_str(), nullptr);
    }
    return CreateDirectoryA(text.c_str(), nullptr) != FALSE;
}

LocalTime localTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

std::string getEnvironmentVariable(const char* name) {
    // The process environment, which every C runtime in the process updates
    // (the host application's may not be the module's).
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    // A size larger than the buffer is what a value grown meanwhile needs.
    std::string value;
    while (size > value.size()) {
        value.resize(size);
        size = GetEnvironmentVariableA(name, &value[0], size);
    }
    value.resize(size);
    return value;
}

FilePtr openForSharedAppend(const char* path, std::size_t) { return FilePtr(_fsopen(path, "ab", _SH_DENYNO)); }

void freeDeviceLibraryBuffer(void* buffer) {
    if (buffer != nullptr) HeapFree(GetProcessHeap(), 0, buffer);
}

char pathSeparator() { return '\\'; }

std::vector<std::string> defaultInstallFolders() {
    return {"C:/Program Files (x86)/Trevanic/Zelmor", "C:/Program Files/Trevanic/Zelmor"};
}

}  // namespace platform
