// The process environment of a test run: a private temporary folder for the
// log files, and control of the log level (a file on Linux, the registry
// under Wine).
#pragma once

#include <string>

namespace testing_support {

// A fresh folder for this test process; also made the temporary folder that
// the module logs under.
const std::string& testFolder();
void prepareTestEnvironment();

// Sets the logLevel value as a REG_DWORD (Linux: the file's decimal text).
void setLogLevel(unsigned value);
// Windows: a REG_SZ value; Linux: raw file text.
void setLogLevelText(const std::string& text);
void removeLogLevel();

// The standardsMode value (Windows: a REG_DWORD; Linux: the file's decimal
// text), read by the module at C_Initialize. prepareTestEnvironment removes it.
void setStandardsMode(unsigned value);
void removeStandardsMode();

// The folder and the file of today's log for this process.
std::string logFolder();
std::string todaysLogFile();
std::string readFile(const std::string& path);
void removeFile(const std::string& path);
std::string processName();

}  // namespace testing_support
