// The module frame through the loaded binary: function list, initialise and
// finalise, start-failed state, information, unsupported entry points.
#include <chrono>
#include <cstring>
#include <thread>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

class FrameTest : public ModuleTest {
protected:
    std::string log() { return readFile(todaysLogFile()); }
};

bool hasDebugLine(const std::string& log, const std::string& text) {
    return log.find("->DEBUG ::=>" + text + "\n") != std::string::npos;
}

}  // namespace

TEST_F(FrameTest, FunctionListIsVersion220WithEveryPointerSet) {
    CK_FUNCTION_LIST_PTR list = nullptr;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(sharedModule().symbol("C_GetFunctionList"));
    ASSERT_NE(nullptr, getList);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, getList(nullptr));
    ASSERT_EQ(CKR_OK, getList(&list));
    EXPECT_EQ(2, list->version.major);
    EXPECT_EQ(20, list->version.minor);
    // The 68 pointers follow the version; the layout may be packed.
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(list) + sizeof(CK_VERSION);
    for (int i = 0; i < 68; ++i) {
        void* pointer = nullptr;
        std::memcpy(&pointer, bytes + i * sizeof(void*), sizeof pointer);
        EXPECT_NE(nullptr, pointer) << "entry " << i;
    }
    EXPECT_EQ(sharedModule().symbol("C_WaitForSlotEvent"), reinterpret_cast<void*>(list->C_WaitForSlotEvent));
    EXPECT_EQ(sharedModule().symbol("C_Initialize"), reinterpret_cast<void*>(list->C_Initialize));
}

TEST_F(FrameTest, InitialiseFinaliseCycles) {
    // Initialised by the fixture: a second C_Initialize is refused and starts nothing.
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK | CKF_LIBRARY_CANT_CREATE_OS_THREADS;
    EXPECT_EQ(CKR_CRYPTOKI_ALREADY_INITIALIZED, f()->C_Initialize(&args));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_createInstance"));

    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_releaseInstance"));
    EXPECT_TRUE(hasDebugLine(log(), "C_Finalize completed successfully."));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_Finalize(nullptr));
    CK_INFO info;
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_GetInfo(&info));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_GetInfo(nullptr));

    // Arbitrary arguments are accepted; the fresh monitor polls the devices.
    args.flags = 0xFFFFFFFF;
    ASSERT_EQ(CKR_OK, f()->C_Initialize(&args));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_createInstance"));
    EXPECT_EQ(CKR_OK, f()->C_GetInfo(&info));
    for (int i = 0; i < 50 && fakeLibrary().callCount("zelmor_getConnectedDeviceList") == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GT(fakeLibrary().callCount("zelmor_getConnectedDeviceList"), 0u);
}

TEST_F(FrameTest, StartFailedStateRetriesOnTheNextInitialise) {
    ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
    fakeLibrary().edit([](FakeState& state) { state.createInstanceGivesNull = true; });
    removeFile(todaysLogFile());

    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    EXPECT_NE(std::string::npos, log().find("->ERROR ::=>Init pkcs11 library failed failed\n"));
    CK_ULONG count = 0;
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, f()->C_Finalize(nullptr));

    // The monitor of the failed start runs with a null instance; the next
    // C_Initialize stops it and asks the device library again.
    fakeLibrary().edit([](FakeState& state) { state.createInstanceGivesNull = false; });
    ASSERT_EQ(CKR_OK, f()->C_Initialize(nullptr));
    EXPECT_TRUE(hasDebugLine(log(), "Monitor already running. Stopping old thread."));
    EXPECT_TRUE(hasDebugLine(log(), "Monitor thread joined (stopDeviceMonitor)."));
    EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_createInstance"));
    CK_INFO info;
    EXPECT_EQ(CKR_OK, f()->C_GetInfo(&info));
}

TEST_F(FrameTest, InfoIsZeroFilledText) {
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GetInfo(nullptr));
    CK_INFO info;
    std::memset(&info, 0xAA, sizeof info);
    ASSERT_EQ(CKR_OK, f()->C_GetInfo(&info));
    EXPECT_EQ(2, info.cryptokiVersion.major);
    EXPECT_EQ(20, info.cryptokiVersion.minor);
    EXPECT_EQ(3, info.libraryVersion.major);
    EXPECT_EQ(6, info.libraryVersion.minor);
    EXPECT_EQ(0u, info.flags);
    unsigned char manufacturer[32] = "Trevanic";
    unsigned char description[32] = "Zelmor PKCS11 Library";
    EXPECT_EQ(0, std::memcmp(manufacturer, info.manufacturerID, 32));
    EXPECT_EQ(0, std::memcmp(description, info.libraryDescription, 32));
}

TEST_F(FrameTest, EveryEntryPointTracesItsName) {
    removeFile(todaysLogFile());
    CK_INFO info;
    f()->C_GetInfo(&info);
    f()->C_InitToken(0, nullptr, 0, nullptr);
    f()->C_CancelFunction(0);
    std::string text = log();
    for (const char* name : {"C_GetInfo", "C_InitToken", "C_CancelFunction"}) {
        EXPECT_TRUE(hasDebugLine(text, name)) << name;
    }
}

TEST_F(FrameTest, UnsupportedEntryPointsAnswerNotSupportedInEveryState) {
#if defined(_WIN32)
    const char* eject = "?C_EjectToken@@YAKK@Z";
    const char* sizes = "?C_GetUnmanagedStructSizeList@@YAKPEAK0@Z";
    const char* interactive = "?C_InteractiveLogin@@YAKK@Z";
#else
    const char* eject = "_Z12C_EjectTokenm";
    const char* sizes = "_Z28C_GetUnmanagedStructSizeListPmS_";
    const char* interactive = "_Z18C_InteractiveLoginm";
#endif
    auto ejectToken = reinterpret_cast<unsigned long (*)(unsigned long)>(sharedModule().symbol(eject));
    auto sizeList = reinterpret_cast<unsigned long (*)(unsigned long*, unsigned long*)>(sharedModule().symbol(sizes));
    auto interactiveLogin = reinterpret_cast<unsigned long (*)(unsigned long)>(sharedModule().symbol(interactive));
    ASSERT_NE(nullptr, ejectToken);
    ASSERT_NE(nullptr, sizeList);
    ASSERT_NE(nullptr, interactiveLogin);

    for (bool initialised : {true, false}) {
        if (!initialised) {
            ASSERT_EQ(CKR_OK, f()->C_Finalize(nullptr));
        }
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_InitToken(0, nullptr, 0, nullptr));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_InitPIN(0, nullptr, 0));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_SeedRandom(0, nullptr, 0));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_GetFunctionStatus(0));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_CancelFunction(0));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_EncryptUpdate(0, nullptr, 0, nullptr, nullptr));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_DecryptFinal(0, nullptr, nullptr));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_WrapKey(0, nullptr, 0, 0, nullptr, nullptr));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_GenerateKey(0, nullptr, nullptr, 0, nullptr));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_DigestKey(0, 0));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, ejectToken(0));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, sizeList(nullptr, nullptr));
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, interactiveLogin(0));
    }
}
