// Runs the module where the Windows installer put it, beside the test fake
// that the package installed as the device library: start, module
// information, slot list, a certificate import that looks for its issuing CA
// in the installed CA folder (ZELMOR_HOME unset), stop. Prints the module's
// manufacturer, description and version for the installer test to compare
// with the package, and names every check that fails.
//
// Usage: installed_module_check INSTALL_FOLDER
// The program must not sit beside a ZelmorDSCLibrary.dll of its own: the
// installed one is to be found through PATH.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "FakeDeviceLibrary.h"
#include "pkcs11.h"

namespace {

int failures = 0;

void check(bool holds, const char* rule) {
    if (!holds) std::printf("FAILED: %s\n", rule);
    failures += holds ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string installFolder = argv[1];
    ZelmorBytes leaf = {0x30, 0x82, 'l', 'e', 'a', 'f'};
    fakeLibrary().addDevice("ZLM0000001");
    fakeLibrary().edit([&](FakeState& state) { state.certificateInfo[leaf].details.issuer = "CN=installer-test-ca"; });

    HMODULE module = LoadLibraryA((installFolder + "\\ZelmorPKCS11Driver.dll").c_str());
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(module, "C_GetFunctionList")));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    if (module == nullptr || getFunctionList == nullptr || getFunctionList(&p11) != CKR_OK) {
        std::printf("FAILED: the installed module loads and hands out its function list\n");
        return 1;
    }
    char deviceLibrary[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("ZelmorDSCLibrary.dll"), deviceLibrary, MAX_PATH);
    check(lstrcmpiA(deviceLibrary, (installFolder + "\\ZelmorDSCLibrary.dll").c_str()) == 0,
          "the device library is the installed one");
    check(p11->C_Initialize(nullptr) == CKR_OK, "C_Initialize succeeds");
    CK_INFO info{};
    check(p11->C_GetInfo(&info) == CKR_OK, "C_GetInfo succeeds");
    // The text fields are padded, with no terminator when full: at most their 32 bytes.
    std::printf("manufacturer=%.32s\ndescription=%.32s\nversion=%u.%u\n",
                reinterpret_cast<const char*>(info.manufacturerID),
                reinterpret_cast<const char*>(info.libraryDescription), info.libraryVersion.major,
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
    // Windows takes / and backslash alike: the default install folders are written with /.
    std::vector<FakeCall> listings = fakeLibrary().calls("zelmor_getFilesWithExtensionsAndConvertDER");
    for (FakeCall& listing : listings) std::replace(listing.folder.begin(), listing.folder.end(), '/', '\\');
    check(listings.size() == 1 && listings[0].folder == installFolder + "\\ZelmorDSC\\Certificates",
          "the issuing CA is looked for in the installed CA folder");
    check(p11->C_Finalize(nullptr) == CKR_OK, "C_Finalize succeeds");
    return failures == 0 ? 0 : 1;
}
