// Runs the module where the Windows installer put it, beside the test fake
// that the package installed as the device library: start, module
// information, slot list, a certificate import whose CA comes from the
// installed CA folder (ZELMOR_HOME unset), stop. Prints the module's
// manufacturer and description for the installer test to compare with the
// package, and names every check that fails.
//
// Usage: installed_module_check INSTALL_FOLDER
// The program must not sit beside a ZelmorDSCLibrary.dll of its own: the
// installed one is to be found through PATH.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "FakeDeviceLibrary.h"
#include "pkcs11.h"

namespace {

int failures = 0;

void check(bool holds, const char* rule) {
    if (!holds) {
        std::printf("FAILED: %s\n", rule);
        ++failures;
    }
}

std::string field(const CK_UTF8CHAR* text, std::size_t size) {
    const char* begin = reinterpret_cast<const char*>(text);
    return std::string(begin, strnlen(begin, size));
}

std::string loadedPath(HMODULE module) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length);
}

bool sameFolder(const std::string& file, const std::string& folder) {
    std::string::size_type cut = file.find_last_of("\\/");
    return cut != std::string::npos && lstrcmpiA(file.substr(0, cut).c_str(), folder.c_str()) == 0;
}

// The folder reader of the fake answers with the files really present in the
// folder the module asks for; each file is a self-signed CA named after it.
void readCaFilesFromDisk(const std::string& caFolder) {
    fakeLibrary().edit([caFolder](FakeState& state) {
        state.duringCall["zelmor_getFilesWithExtensionsAndConvertDER"] = [caFolder] {
            ZelmorFileList files;
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((caFolder + "\\*.cer").c_str(), &found);
            if (search != INVALID_HANDLE_VALUE) {
                do {
                    std::ifstream in(caFolder + "\\" + found.cFileName, std::ios::binary);
                    files.emplace_back(found.cFileName, ZelmorBytes(std::istreambuf_iterator<char>(in), {}));
                } while (FindNextFileA(search, &found));
                FindClose(search);
            }
            fakeLibrary().edit([&](FakeState& inner) {
                inner.caFiles = files;
                for (const auto& file : files) {
                    std::string name = "CN=" + file.first.substr(0, file.first.rfind('.'));
                    inner.certificateInfo[file.second].details.subject = name;
                    inner.certificateInfo[file.second].details.issuer = name;
                }
            });
        };
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: installed_module_check INSTALL_FOLDER\n");
        return 2;
    }
    const std::string installFolder = argv[1];
    const std::string caFolderName = "installer-test-ca";
    const ZelmorBytes leaf = {0x30, 0x82, 'l', 'e', 'a', 'f'};
    fakeLibrary().reset();
    fakeLibrary().addDevice("ZLM0000001");
    fakeLibrary().edit([&](FakeState& state) {
        state.certificateInfo[leaf].details.subject = "CN=Installer Test Leaf";
        state.certificateInfo[leaf].details.issuer = "CN=" + caFolderName;
    });
    readCaFilesFromDisk(installFolder + "\\ZelmorDSC\\Certificates");

    HMODULE module = LoadLibraryA((installFolder + "\\ZelmorPKCS11Driver.dll").c_str());
    if (module == nullptr) {
        std::printf("FAILED: the installed module loads (error %lu)\n", GetLastError());
        return 1;
    }
    check(sameFolder(loadedPath(GetModuleHandleA("ZelmorDSCLibrary.dll")), installFolder),
          "the device library is the one installed beside the module");
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(module, "C_GetFunctionList")));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    if (getFunctionList == nullptr || getFunctionList(&p11) != CKR_OK) {
        std::printf("FAILED: the installed module hands out its function list\n");
        return 1;
    }

    check(p11->C_Initialize(nullptr) == CKR_OK, "C_Initialize succeeds");
    CK_INFO info{};
    check(p11->C_GetInfo(&info) == CKR_OK, "C_GetInfo succeeds");
    std::printf("manufacturer=%s\n", field(info.manufacturerID, sizeof info.manufacturerID).c_str());
    std::printf("description=%s\n", field(info.libraryDescription, sizeof info.libraryDescription).c_str());
    std::printf("version=%u.%u\n", info.libraryVersion.major, info.libraryVersion.minor);

    CK_SLOT_ID slots[4];
    CK_ULONG slotCount = 4;
    check(p11->C_GetSlotList(CK_TRUE, slots, &slotCount) == CKR_OK && slotCount == 1,
          "C_GetSlotList lists the one connected device");

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    check(p11->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) == CKR_OK,
          "C_OpenSession succeeds");
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &certificateClass, sizeof certificateClass},
        {CKA_VALUE, const_cast<uint8_t*>(leaf.data()), static_cast<CK_ULONG>(leaf.size())},
    };
    CK_OBJECT_HANDLE certificate = CK_INVALID_HANDLE;
    check(p11->C_CreateObject(session, attributes, 2, &certificate) == CKR_OK, "C_CreateObject imports the leaf");
    std::vector<FakeCall> imports = fakeLibrary().calls("zelmor_importCertificate");
    check(imports.size() == 2 && std::string(imports[0].certificate.label) == caFolderName,
          "the CA in the installed CA folder is imported before the leaf");
    check(p11->C_Finalize(nullptr) == CKR_OK, "C_Finalize succeeds");
    FreeLibrary(module);
    std::printf("%s\n", failures == 0 ? "installed module: all checks passed" : "installed module: checks failed");
    return failures == 0 ? 0 : 1;
}
