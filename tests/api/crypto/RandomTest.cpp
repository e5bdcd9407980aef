// Random numbers through the loaded module.
#include "CryptoTest.h"

using namespace testing_support;
using namespace crypto_tests;

namespace {
class RandomTest : public CryptoTest {};
}  // namespace

TEST_F(RandomTest, DeviceFillsTheCallersBuffer) {
    Bytes random(40, 0);
    ASSERT_EQ(CKR_OK, f()->C_GenerateRandom(session, ptr(random), 40));
    auto calls = fakeLibrary().calls("zelmor_generateRamdomNumber");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(defaultDevice, calls[0].deviceName);
    EXPECT_EQ(40, calls[0].number);
    EXPECT_TRUE(calls[0].flag);
    EXPECT_EQ(nullptr, calls[0].instance);
    for (std::size_t i = 0; i < random.size(); ++i) EXPECT_EQ(static_cast<uint8_t>(0x5A ^ i), random[i]);
}

TEST_F(RandomTest, NoStateOrLoginCheckAndActiveOperationsAreUntouched) {
    CK_SESSION_HANDLE readOnly = publicReadOnlySession();
    Bytes random(8);
    EXPECT_EQ(CKR_OK, f()->C_GenerateRandom(readOnly, ptr(random), 8));

    login(session);
    ASSERT_EQ(CKR_OK, signInit(CKM_RSA_PKCS));
    EXPECT_EQ(CKR_OK, f()->C_GenerateRandom(session, ptr(random), 8));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, signInit(CKM_RSA_PKCS));
    EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_generateRamdomNumber"));
}

TEST_F(RandomTest, BadInputAndDeviceFailure) {
    Bytes random(8);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateRandom(session, ptr(random), 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateRandom(session, nullptr, 8));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GenerateRandom(0x60FFFFFF, ptr(random), 8));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_generateRamdomNumber"));

    fakeLibrary().setResult("zelmor_generateRamdomNumber", -2);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_GenerateRandom(session, ptr(random), 8));
    // Logged at the debug level only.
    EXPECT_TRUE(hasDebugLine("PKCS11 generate random number failed : -2"));
    EXPECT_FALSE(logMentions("ERROR ::=>PKCS11 generate random"));
}
