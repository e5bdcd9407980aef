#include "HarnessSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR);

namespace fuzzing {

namespace {

void prepareFolders() {
    // The environment is given before the module's first call; FUZZ_LOG_LEVEL
    // overrides the level (3 to exercise the log lines, at a cost in speed).
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
                          "/zelmor-fuzz-XXXXXX";
    const char* folder = mkdtemp(&pattern[0]);
    if (folder == nullptr) std::abort();
    const std::string base = folder;
    ::mkdir((base + "/tmp").c_str(), 0700);
    setenv("TMPDIR", (base + "/tmp").c_str(), 1);
    setenv("ZELMOR_CONFIG_DIR", base.c_str(), 1);
    const char* level = std::getenv("FUZZ_LOG_LEVEL");
    std::ofstream(base + "/logLevel") << (level != nullptr ? level : "0") << "\n";
}

}  // namespace

CK_FUNCTION_LIST_PTR initialisedModule() {
    static CK_FUNCTION_LIST_PTR functions = [] {
        prepareFolders();
        CK_FUNCTION_LIST_PTR list = nullptr;
        if (C_GetFunctionList(&list) != CKR_OK || list == nullptr) std::abort();
        resetFakeDevice(0);
        if (list->C_Initialize(nullptr) != CKR_OK) std::abort();
        return list;
    }();
    return functions;
}

const ZelmorBytes& sampleCertificate() {
    // The start of a certificate's DER; the fake never parses it, and the
    // module must cope with whatever the device library says about it.
    static const ZelmorBytes der = {
        0x30, 0x82, 0x01, 0x1B, 0x30, 0x81, 0xC2, 0xA0, 0x03, 0x02, 0x01, 0x02, 0x02, 0x01, 0x01, 0x30, 0x0A,
        0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02, 0x30, 0x0F, 0x31, 0x0D, 0x30, 0x0B, 0x06,
        0x03, 0x55, 0x04, 0x03, 0x0C, 0x04, 0x46, 0x75, 0x7A, 0x7A, 0x30, 0x1E, 0x17, 0x0D, 0x32, 0x34, 0x30,
        0x31, 0x30, 0x31, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x5A, 0x17, 0x0D, 0x33, 0x34, 0x30, 0x31, 0x30,
        0x31, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x5A, 0x30, 0x0F, 0x31, 0x0D, 0x30, 0x0B, 0x06, 0x03, 0x55,
        0x04, 0x03, 0x0C, 0x04, 0x46, 0x75, 0x7A, 0x7A, 0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
        0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00,
        0x04};
    return der;
}

void resetFakeDevice(unsigned extraDevices) {
    FakeLibrary& fake = fakeLibrary();
    fake.reset();
    fake.addDevice("ZLM0000001", "12345678");
    fake.addKeyPair("ZLM0000001", makeFakeKeyPair(0, keyKindRsa2048, "rsa key", {0x01, 0x02}));
    fake.addKeyPair("ZLM0000001", makeFakeKeyPair(1, keyKindEcP256, "ec key", {0x03}));
    fake.addCertificate("ZLM0000001", makeFakeCertificate(0, sampleCertificate(), "certificate", {0x01, 0x02}));
    for (unsigned i = 0; i < extraDevices; ++i) fake.addDevice("ZLM000000" + std::to_string(2 + i), "87654321");
}

}  // namespace fuzzing
