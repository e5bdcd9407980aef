// PIN validation, retry counter, lock, unlock and change.
#include "SimTestSupport.h"

#include "device/DeviceAdministration.h"
#include "device/ResultCodes.h"

using namespace simtest;
namespace result = zelmor::sim::result;

namespace {

class PasswordTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        createDevice("P1", 32, 3);
        instance = openInstance();
    }
    int32_t validate(const char* pin, int32_t* tries) {
        *tries = 0;
        return zelmor_validatePassword("P1", pin, 1, tries, instance);
    }
    int32_t remaining() { return zelmor_getTokenInfo("P1", instance).remainingPinAttempts; }

    ZelmorInstance instance = nullptr;
};

}  // namespace

TEST_F(PasswordTest, WrongPinUsesTriesUntilLocked) {
    int32_t tries = 0;
    EXPECT_EQ(validate("000000", &tries), result::pinIncorrect);
    EXPECT_EQ(tries, 2);
    EXPECT_EQ(validate("000000", &tries), result::pinIncorrect);
    EXPECT_EQ(tries, 1);
    EXPECT_EQ(validate("000000", &tries), result::pinLocked);
    EXPECT_EQ(tries, 0);
    EXPECT_EQ(validate(defaultPin, &tries), result::pinLocked) << "the right PIN no longer opens a locked device";
    EXPECT_EQ(tries, 0);
    EXPECT_EQ(remaining(), 0);

    zelmor::sim::unlockDevice(zelmor::sim::DeviceStore(storeFolder()), "P1", std::nullopt);
    EXPECT_EQ(validate(defaultPin, &tries), result::ok);
    EXPECT_EQ(remaining(), 3);
}

TEST_F(PasswordTest, RightPinRestoresTheFullCount) {
    int32_t tries = 0;
    EXPECT_EQ(validate("999999", &tries), result::pinIncorrect);
    EXPECT_EQ(remaining(), 2);
    EXPECT_EQ(validate(defaultPin, &tries), result::ok);
    EXPECT_EQ(remaining(), 3);
    // A verified PIN, then a wrong one, then the verified one again: the counter is restored again.
    EXPECT_EQ(validate("999999", &tries), result::pinIncorrect);
    EXPECT_EQ(validate(defaultPin, &tries), result::ok);
    EXPECT_EQ(remaining(), 3);
}

TEST_F(PasswordTest, EmptyPasswordOrOtherUserIsRefusedWithoutUsingATry) {
    int32_t tries = 0;
    EXPECT_EQ(validate("", &tries), result::pinIncorrect);
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(validate(nullptr, &tries), result::pinIncorrect);
    EXPECT_EQ(remaining(), 3);
    const ZelmorKeyPair key = generate(instance, "P1", keyKindEcP256);
    EXPECT_EQ(signWith(instance, "P1", key.identifier, Bytes(32, 1), nullptr, ""), result::pinIncorrect);
    EXPECT_EQ(remaining(), 3);
    EXPECT_NE(zelmor_validatePassword("P1", defaultPin, 0, &tries, instance), result::ok) << "only the normal user";
    EXPECT_EQ(remaining(), 3);
}

TEST_F(PasswordTest, WrongPinOnAnyOperationUsesATry) {
    const ZelmorKeyPair key = generate(instance, "P1", keyKindEcP256);
    EXPECT_EQ(signWith(instance, "P1", key.identifier, Bytes(32, 1), nullptr, "wrong1"), result::pinIncorrect);
    EXPECT_EQ(zelmor_deleteKeyPair("P1", key.identifier, "wrong2", false, instance), result::pinIncorrect);
    EXPECT_EQ(remaining(), 1);
    EXPECT_EQ(zelmor_getKeyPairList("P1", instance).size(), 1u) << "nothing deleted";
}

TEST_F(PasswordTest, ChangeReplacesThePin) {
    int32_t tries = 0;
    EXPECT_FALSE(zelmor_changeUserPassword("P1", "wrong0", "654321", &tries, false, false, instance));
    EXPECT_EQ(tries, 2);
    EXPECT_FALSE(zelmor_changeUserPassword("P1", defaultPin, "123", &tries, false, false, instance))
        << "new PIN too short";
    EXPECT_TRUE(zelmor_changeUserPassword("P1", defaultPin, "654321", &tries, false, false, instance));
    EXPECT_EQ(validate(defaultPin, &tries), result::pinIncorrect);
    EXPECT_EQ(validate("654321", &tries), result::ok);
    // Another instance (another process, say) sees the new PIN too.
    ZelmorInstance other = openInstance();
    EXPECT_EQ(zelmor_validatePassword("P1", "654321", 1, &tries, other), result::ok);
}

TEST_F(PasswordTest, PinVerifiedElsewhereIsNotTrustedAfterThePinChanged) {
    int32_t tries = 0;
    EXPECT_EQ(validate(defaultPin, &tries), result::ok);  // this instance now knows the PIN
    zelmor::sim::unlockDevice(zelmor::sim::DeviceStore(storeFolder()), "P1", std::string("777777"));
    EXPECT_EQ(validate(defaultPin, &tries), result::pinIncorrect);
    EXPECT_EQ(validate("777777", &tries), result::ok);
}
