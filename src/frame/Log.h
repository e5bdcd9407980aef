// The diagnostic log: one text file per process name and day under the
// temporary folder, verbosity read from the "logLevel" setting for every line.
// Logging never fails the caller.
#pragma once

#include <cstddef>
#include <string>

namespace zelmor {

void logDebug(std::string message);
void logError(std::string message);
void writeLog(int severity, std::string message);
int getLogLevel();

// Internals, exposed for tests.
int getLogBaseFolderPath(char* buffer);  // buffer of logPathBufferSize bytes
std::string getProcessName();
bool createLogFolder(const std::string& path);
bool isDirectory(const std::string& path);
std::string logFolderPath();  // the folder part of the log path, ending with "/"

constexpr std::size_t logPathBufferSize = 1024;
constexpr int logLevelDebug = 3;
constexpr int logLevelError = 2;

// Upper-case hexadecimal rendering of bytes, two digits per byte.
std::string toHex(const void* data, std::size_t length);

}  // namespace zelmor
