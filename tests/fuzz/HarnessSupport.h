// Set-up shared by the fuzzers that run the module in-process against the
// test fake: a private temporary and configuration folder (log level 0 unless
// FUZZ_LOG_LEVEL says otherwise: log files cost speed) and one C_Initialize
// for the whole run (C_Finalize pauses for the monitor thread).
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ApiDriver.h"
#include "FakeDeviceLibrary.h"

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR);

namespace fuzzing {

// Certificate bytes for the fake's records; the fake never parses them.
inline const ZelmorBytes sampleCertificate = {0x30, 0x82, 0x01, 0x1B, 0x30, 0x81, 0xC2, 0xA0, 0x03, 0x02, 0x01};

inline CK_FUNCTION_LIST_PTR initialisedModule() {
    static const CK_FUNCTION_LIST_PTR functions = [] {
        const char* temporary = std::getenv("TMPDIR");
        std::string base = std::string(temporary != nullptr ? temporary : "/tmp") + "/zelmor-fuzz-XXXXXX";
        if (mkdtemp(&base[0]) == nullptr) std::abort();
        ::mkdir((base + "/tmp").c_str(), 0700);
        setenv("TMPDIR", (base + "/tmp").c_str(), 1);
        setenv("ZELMOR_CONFIG_DIR", base.c_str(), 1);
        const char* level = std::getenv("FUZZ_LOG_LEVEL");
        std::ofstream(base + "/logLevel") << (level != nullptr ? level : "0") << "\n";
        CK_FUNCTION_LIST_PTR list = nullptr;
        if (C_GetFunctionList(&list) != CKR_OK || list->C_Initialize(nullptr) != CKR_OK) std::abort();
        return list;
    }();
    return functions;
}

// Runs up to maxSteps driver steps; a result the entry point may not return is a finding.
inline void driveAndClose(ApiDriver& driver, FuzzInput& in, int maxSteps) {
    for (int step = 0; step < maxSteps && !in.empty(); ++step) {
        fakeLibrary().clearCalls();  // the fake records every call; not needed here
        if (!driver.step(in)) std::abort();
    }
    driver.closeSessions();
}

}  // namespace fuzzing
