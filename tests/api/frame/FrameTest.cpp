// The module frame through the loaded binary: the codes of the library entry
// points and of the unsupported ones in each state, the function list, the
// information, the failed start.
#include <cstring>
#include <functional>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

using FrameTest = ModuleTest;

constexpr CK_RV changesTheState = CKR_VENDOR_DEFINED;  // not called in that state
constexpr CK_RV unsupported = CKR_FUNCTION_NOT_SUPPORTED;

// The three extra exports carry C++ (decorated) names.
#if defined(_WIN32)
const char* const extras[] = {"?C_EjectToken@@YAKK@Z", "?C_GetUnmanagedStructSizeList@@YAKPEAK0@Z",
                              "?C_InteractiveLogin@@YAKK@Z"};
#else
const char* const extras[] = {"_Z12C_EjectTokenm", "_Z28C_GetUnmanagedStructSizeListPmS_", "_Z18C_InteractiveLoginm"};
#endif
CK_C_GetFunctionList getList() {
    return reinterpret_cast<CK_C_GetFunctionList>(sharedModule().symbol("C_GetFunctionList"));
}

}  // namespace

TEST_F(FrameTest, CodesByState) {
    auto ejectToken = reinterpret_cast<unsigned long (*)(unsigned long)>(sharedModule().symbol(extras[0]));
    auto sizeList =
        reinterpret_cast<unsigned long (*)(unsigned long*, unsigned long*)>(sharedModule().symbol(extras[1]));
    auto interactiveLogin = reinterpret_cast<unsigned long (*)(unsigned long)>(sharedModule().symbol(extras[2]));
    ASSERT_TRUE(getList() && ejectToken && sizeList && interactiveLogin);
    CK_INFO info;
    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK | CKF_LIBRARY_CANT_CREATE_OS_THREADS;
    const struct {
        const char* call;
        std::function<CK_RV()> run;
        CK_RV initialised, notInitialised;
    } cases[] = {
        {"C_Initialize", [&] { return f()->C_Initialize(&args); }, CKR_CRYPTOKI_ALREADY_INITIALIZED, changesTheState},
        {"C_Finalize", [&] { return f()->C_Finalize(nullptr); }, changesTheState, CKR_CRYPTOKI_NOT_INITIALIZED},
        {"C_GetInfo", [&] { return f()->C_GetInfo(&info); }, CKR_OK, CKR_CRYPTOKI_NOT_INITIALIZED},
        {"C_GetInfo(null)", [&] { return f()->C_GetInfo(nullptr); }, CKR_ARGUMENTS_BAD, CKR_CRYPTOKI_NOT_INITIALIZED},
        {"C_GetFunctionList", [&] { return getList()(&list); }, CKR_OK, CKR_OK},
        {"C_GetFunctionList(null)", [&] { return getList()(nullptr); }, CKR_ARGUMENTS_BAD, CKR_ARGUMENTS_BAD},
        // Unsupported entry points look at nothing, not even the state.
        {"C_InitToken", [&] { return f()->C_InitToken(0, nullptr, 0, nullptr); }, unsupported, unsupported},
        {"C_InitPIN", [&] { return f()->C_InitPIN(0, nullptr, 0); }, unsupported, unsupported},
        {"C_GetOperationState", [&] { return f()->C_GetOperationState(0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_SetOperationState", [&] { return f()->C_SetOperationState(0, nullptr, 0, 0, 0); },
         unsupported, unsupported},
        {"C_CopyObject", [&] { return f()->C_CopyObject(0, 0, nullptr, 0, nullptr); }, unsupported, unsupported},
        {"C_DigestKey", [&] { return f()->C_DigestKey(0, 0); }, unsupported, unsupported},
        {"C_EncryptUpdate", [&] { return f()->C_EncryptUpdate(0, nullptr, 0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_EncryptFinal", [&] { return f()->C_EncryptFinal(0, nullptr, nullptr); }, unsupported, unsupported},
        {"C_DecryptUpdate", [&] { return f()->C_DecryptUpdate(0, nullptr, 0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_DecryptFinal", [&] { return f()->C_DecryptFinal(0, nullptr, nullptr); }, unsupported, unsupported},
        {"C_SignRecoverInit", [&] { return f()->C_SignRecoverInit(0, nullptr, 0); }, unsupported, unsupported},
        {"C_SignRecover", [&] { return f()->C_SignRecover(0, nullptr, 0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_VerifyRecoverInit", [&] { return f()->C_VerifyRecoverInit(0, nullptr, 0); }, unsupported, unsupported},
        {"C_VerifyRecover", [&] { return f()->C_VerifyRecover(0, nullptr, 0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_DigestEncryptUpdate", [&] { return f()->C_DigestEncryptUpdate(0, nullptr, 0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_DecryptDigestUpdate", [&] { return f()->C_DecryptDigestUpdate(0, nullptr, 0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_SignEncryptUpdate", [&] { return f()->C_SignEncryptUpdate(0, nullptr, 0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_DecryptVerifyUpdate", [&] { return f()->C_DecryptVerifyUpdate(0, nullptr, 0, nullptr, nullptr); },
         unsupported, unsupported},
        {"C_GenerateKey", [&] { return f()->C_GenerateKey(0, nullptr, nullptr, 0, nullptr); },
         unsupported, unsupported},
        {"C_WrapKey", [&] { return f()->C_WrapKey(0, nullptr, 0, 0, nullptr, nullptr); }, unsupported, unsupported},
        {"C_UnwrapKey", [&] { return f()->C_UnwrapKey(0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr); },
         unsupported, unsupported},
        {"C_DeriveKey", [&] { return f()->C_DeriveKey(0, nullptr, 0, nullptr, 0, nullptr); }, unsupported, unsupported},
        {"C_SeedRandom", [&] { return f()->C_SeedRandom(0, nullptr, 0); }, unsupported, unsupported},
        {"C_GetFunctionStatus", [&] { return f()->C_GetFunctionStatus(0); }, unsupported, unsupported},
        {"C_CancelFunction", [&] { return f()->C_CancelFunction(0); }, unsupported, unsupported},
        {"C_EjectToken", [&] { return ejectToken(0); }, unsupported, unsupported},
        {"C_GetUnmanagedStructSizeList", [&] { return sizeList(nullptr, nullptr); }, unsupported, unsupported},
        {"C_InteractiveLogin", [&] { return interactiveLogin(0); }, unsupported, unsupported},
    };
    for (bool initialised : {true, false}) {
        ASSERT_EQ(CKR_OK, initialised ? CKR_OK : f()->C_Finalize(nullptr));
        for (const auto& c : cases) {
            const CK_RV expected = initialised ? c.initialised : c.notInitialised;
            if (expected == changesTheState) continue;
            EXPECT_EQ(expected, c.run()) << c.call << " initialised " << initialised;
        }
    }
    // The refused C_Initialize started nothing; C_Finalize released the instance.
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_createInstance"));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_releaseInstance"));
}

// Version 2.20, then every export in order: an entry left out would shift
// the last one. The information is zero-filled text.
TEST_F(FrameTest, FunctionListAndInformation) {
    CK_FUNCTION_LIST_PTR list = nullptr;
    ASSERT_EQ(CKR_OK, getList()(&list));
    EXPECT_EQ((std::vector<int>{2, 20}), (std::vector<int>{list->version.major, list->version.minor}));
    EXPECT_EQ(sharedModule().symbol("C_Initialize"), reinterpret_cast<void*>(list->C_Initialize));
    EXPECT_EQ(sharedModule().symbol("C_WaitForSlotEvent"), reinterpret_cast<void*>(list->C_WaitForSlotEvent));
    CK_INFO info;
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(CKR_OK, f()->C_GetInfo(&info));
    static const CK_INFO expected{{2, 20}, "Trevanic", 0, "Zelmor PKCS11 Library", {3, 6}};
    EXPECT_EQ(0, std::memcmp(&expected, &info, sizeof info));
}

// C_Finalize returns once the monitor thread has ended. Without a device
// library instance the start counts as failed; the next C_Initialize stops
// that start's monitor and asks the library again.
TEST_F(FrameTest, FinalizeAndAFailedStart) {
    removeFile(todaysLogFile());
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    EXPECT_NE(std::string::npos, readFile(todaysLogFile()).find("Session monitor thread stopped.\n"));
    fakeLibrary().clearCalls();
    fakeLibrary().edit([](FakeState& state) { state.createInstanceGivesNull = true; });
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    EXPECT_NE(std::string::npos, readFile(todaysLogFile()).find("->ERROR ::=>Init pkcs11 library failed failed\n"));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_Finalize(nullptr));
    fakeLibrary().edit([](FakeState& state) { state.createInstanceGivesNull = false; });
    CK_C_INITIALIZE_ARGS args{};
    args.flags = 0xFFFFFFFF;  // arbitrary arguments are accepted
    ASSERT_EQ(CKR_OK, f()->C_Initialize(&args));
    EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_createInstance"));
}
