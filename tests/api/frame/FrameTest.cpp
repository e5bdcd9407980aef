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

// The three extra exports carry C++ (decorated) names.
#if defined(_WIN32)
const char* const extras[] = {"?C_EjectToken@@YAKK@Z", "?C_GetUnmanagedStructSizeList@@YAKPEAK0@Z",
                              "?C_InteractiveLogin@@YAKK@Z"};
#else
const char* const extras[] = {"_Z12C_EjectTokenm", "_Z28C_GetUnmanagedStructSizeListPmS_", "_Z18C_InteractiveLoginm"};
#endif
// A call of function with every argument zero or null.
template <typename Result, typename... Args>
std::function<CK_RV()> withZeros(Result (*function)(Args...)) {
    return [function] { return static_cast<CK_RV>(function(Args{}...)); };
}
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
    };
    // Unsupported entry points look at nothing, not even the state.
    const std::pair<const char*, std::function<CK_RV()>> unsupportedCalls[] = {
        {"C_InitToken", withZeros(f()->C_InitToken)}, {"C_InitPIN", withZeros(f()->C_InitPIN)},
        {"C_GetOperationState", withZeros(f()->C_GetOperationState)},
        {"C_SetOperationState", withZeros(f()->C_SetOperationState)}, {"C_CopyObject", withZeros(f()->C_CopyObject)},
        {"C_DigestKey", withZeros(f()->C_DigestKey)}, {"C_EncryptUpdate", withZeros(f()->C_EncryptUpdate)},
        {"C_EncryptFinal", withZeros(f()->C_EncryptFinal)}, {"C_DecryptUpdate", withZeros(f()->C_DecryptUpdate)},
        {"C_DecryptFinal", withZeros(f()->C_DecryptFinal)}, {"C_SignRecoverInit", withZeros(f()->C_SignRecoverInit)},
        {"C_SignRecover", withZeros(f()->C_SignRecover)}, {"C_VerifyRecoverInit", withZeros(f()->C_VerifyRecoverInit)},
        {"C_VerifyRecover", withZeros(f()->C_VerifyRecover)},
        {"C_DigestEncryptUpdate", withZeros(f()->C_DigestEncryptUpdate)},
        {"C_DecryptDigestUpdate", withZeros(f()->C_DecryptDigestUpdate)},
        {"C_SignEncryptUpdate", withZeros(f()->C_SignEncryptUpdate)},
        {"C_DecryptVerifyUpdate", withZeros(f()->C_DecryptVerifyUpdate)},
        {"C_GenerateKey", withZeros(f()->C_GenerateKey)}, {"C_WrapKey", withZeros(f()->C_WrapKey)},
        {"C_UnwrapKey", withZeros(f()->C_UnwrapKey)}, {"C_DeriveKey", withZeros(f()->C_DeriveKey)},
        {"C_SeedRandom", withZeros(f()->C_SeedRandom)}, {"C_GetFunctionStatus", withZeros(f()->C_GetFunctionStatus)},
        {"C_CancelFunction", withZeros(f()->C_CancelFunction)}, {"C_EjectToken", withZeros(ejectToken)},
        {"C_GetUnmanagedStructSizeList", withZeros(sizeList)}, {"C_InteractiveLogin", withZeros(interactiveLogin)},
    };
    for (bool initialised : {true, false}) {
        ASSERT_EQ(CKR_OK, initialised ? CKR_OK : f()->C_Finalize(nullptr));
        for (const auto& c : cases) {
            const CK_RV expected = initialised ? c.initialised : c.notInitialised;
            if (expected == changesTheState) continue;
            EXPECT_EQ(expected, c.run()) << c.call << " initialised " << initialised;
        }
        for (const auto& [name, call] : unsupportedCalls) {
            EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, call()) << name << " initialised " << initialised;
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
    const char stoppingOld[] = "Monitor already running. Stopping old thread.";
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    EXPECT_NE(std::string::npos, readFile(todaysLogFile()).find("->ERROR ::=>Init pkcs11 library failed failed\n"));
    EXPECT_EQ(std::string::npos, readFile(todaysLogFile()).find(stoppingOld)) << "the finalised monitor is gone";
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_Finalize(nullptr));
    fakeLibrary().edit([](FakeState& state) { state.createInstanceGivesNull = false; });
    CK_C_INITIALIZE_ARGS args{};
    args.flags = 0xFFFFFFFF;  // arbitrary arguments are accepted
    ASSERT_EQ(CKR_OK, f()->C_Initialize(&args));
    EXPECT_NE(std::string::npos, readFile(todaysLogFile()).find(stoppingOld)) << "the failed start's monitor";
    EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_createInstance"));
}
