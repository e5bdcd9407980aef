// Runs the module where the Windows installer put it, beside the test fake
// that the package installed as the device library: start, module
// information, slot list, a certificate import whose CA comes from the
// installed CA folder (ZELMOR_HOME unset), stop. Prints the module's
// manufacturer, description and version for the installer test to compare
// with the package, and names every check that fails.
//
// Usage: installed_module_check INSTALL_FOLDER
// The program must not sit beside a ZelmorDSCLibrary.dll of its own: the
// installed one is to be found through PATH.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "FakeDeviceLibrary.h"
#include "pkcs11.h"

namespace {

int failures = 0;

void check(bool holds, const char* rule) {
    if (!holds) std::printf("FAILED: %s\n", rule);
    failures += holds ? 0 : 1;
}

std::string field(const CK_UTF8CHAR* text, std::size_t size) {
    const char* begin = reinterpret_cast<const char*>(text);
    return std::string(begin, strnlen(begin, size));
}

bool loadedFrom(const char* module, const std::string& folder) {
    char path[MAX_PATH] = {};
    std::string file(path, GetModuleFileNameA(GetModuleHandleA(module), path, MAX_PATH));
    return lstrcmpiA(file.substr(0, file.find_last_of('\\')).c_str(), folder.c_str()) == 0;
}

// The fake's folder reader answers with the .cer files really in the folder;
// each is a self-signed CA named after its file.
void readCaFilesFrom(const std::string& folder) {
    fakeLibrary().edit([folder](FakeState& state) {
        state.duringCall["zelmor_getFilesWithExtensionsAndConvertDER"] = [folder] {
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((folder + "\\*.cer").c_str(), &found);
            for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
                std::ifstream in(folder + "\\" + found.cFileName, std::ios::binary);
                ZelmorBytes der{std::istreambuf_iterator<char>(in), {}};
                std::string name = "CN=" + std::string(found.cFileName).substr(0, strlen(found.cFileName) - 4);
                fakeLibrary().edit([&](FakeState& inner) {
                    inner.caFiles.emplace_back(found.cFileName, der);
                    inner.certificateInfo[der].details.subject = inner.certificateInfo[der].details.issuer = name;
                });
            }
            if (search != INVALID_HANDLE_VALUE) FindClose(search);
        };
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string installFolder = argv[1];
    ZelmorBytes leaf = {0x30, 0x82, 'l', 'e', 'a', 'f'};
    fakeLibrary().addDevice("ZLM0000001");
    fakeLibrary().edit([&](FakeState& state) { state.certificateInfo[leaf].details.issuer = "CN=installer-test-ca"; });
    readCaFilesFrom(installFolder + "\\ZelmorDSC\\Certificates");

    HMODULE module = LoadLibraryA((installFolder + "\\ZelmorPKCS11Driver.dll").c_str());
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(module, "C_GetFunctionList")));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    if (module == nullptr || getFunctionList == nullptr || getFunctionList(&p11) != CKR_OK) {
        std::printf("FAILED: the installed module loads and hands out its function list\n");
        return 1;
    }
    check(loadedFrom("ZelmorDSCLibrary.dll", installFolder), "the device library is the installed one");
    check(p11->C_Initialize(nullptr) == CKR_OK, "C_Initialize succeeds");
    CK_INFO info{};
    check(p11->C_GetInfo(&info) == CKR_OK, "C_GetInfo succeeds");
    std::printf("manufacturer=%s\ndescription=%s\nversion=%u.%u\n",
                field(info.manufacturerID, sizeof info.manufacturerID).c_str(),
                field(info.libraryDescription, sizeof info.libraryDescription).c_str(), info.libraryVersion.major,
                info.libraryVersion.minor);
    CK_SLOT_ID slot = 0;
    CK_ULONG slotCount = 1;  // room for one slot: a second device would be an error
    check(p11->C_GetSlotList(CK_TRUE, &slot, &slotCount) == CKR_OK && slotCount == 1,
          "C_GetSlotList lists the one connected device");
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) == CKR_OK,
          "C_OpenSession succeeds");
    CK_ATTRIBUTE value{CKA_VALUE, leaf.data(), static_cast<CK_ULONG>(leaf.size())};
    CK_OBJECT_HANDLE certificate = CK_INVALID_HANDLE;
    check(p11->C_CreateObject(session, &value, 1, &certificate) == CKR_OK, "C_CreateObject imports the leaf");
    std::vector<FakeCall> imports = fakeLibrary().calls("zelmor_importCertificate");
    check(imports.size() == 2 && std::string(imports[0].certificate.label) == "installer-test-ca",
          "the CA in the installed CA folder is imported before the leaf");
    check(p11->C_Finalize(nullptr) == CKR_OK, "C_Finalize succeeds");
    return failures == 0 ? 0 : 1;
}
