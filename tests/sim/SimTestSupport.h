// Shared helpers of the virtual device library tests: a private store per
// test, device creation and device calls.
#pragma once

#include "ZelmorDSCLibrary.h"
#include "device/DeviceAdministration.h"
#include "device/ResultCodes.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
namespace result = zelmor::sim::result;
constexpr const char* defaultPin = "123456";

// Every test gets its own store folder in $ZELMOR_SIM_HOME, removed afterwards,
// and a library instance opened before anything is in the store.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelmor-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        storeFolder = std::string(pattern) + "/store";
        ::setenv("ZELMOR_SIM_HOME", storeFolder.c_str(), 1);
        instance = openInstance();
    }
    void TearDown() override {
        for (ZelmorInstance opened : instances_) zelmor_releaseInstance(opened);
        std::system(("rm -rf '" + storeFolder.substr(0, storeFolder.rfind('/')) + "'").c_str());
    }
    // A plugged device made through the administration code.
    void createDevice(const std::string& serial, uint32_t capacity = 32, uint32_t retries = 10) {
        zelmor::sim::createDevice(zelmor::sim::DeviceStore(storeFolder),
                                  {serial, defaultPin, "Zelmor Token", "Zelmor DSC", "1.0", retries, capacity});
    }
    // A library instance, released in TearDown.
    ZelmorInstance openInstance() {
        ZelmorInstance opened = nullptr;
        zelmor_createInstance(&opened);
        EXPECT_NE(opened, nullptr);
        instances_.push_back(opened);
        return opened;
    }
    // Generates a key pair on the device; fails the test on a non-zero result.
    static ZelmorKeyPair generate(ZelmorInstance instance, const char* serial, uint32_t kind) {
        ZelmorKeyPair keyPair{};
        keyPair.keyKind = kind;
        keyPair.usageFlags = keyUsageSign | keyUsageDecrypt;
        EXPECT_EQ(zelmor_generateKeyPair(serial, defaultPin, &keyPair, instance), 0);
        return keyPair;
    }
    std::string storeFolder;
    ZelmorInstance instance = nullptr;

private:
    std::vector<ZelmorInstance> instances_;
};

inline int32_t generateResult(ZelmorInstance instance, const char* serial, const char* pin = defaultPin) {
    ZelmorKeyPair request{};
    request.keyKind = keyKindEcP256;
    return zelmor_generateKeyPair(serial, pin, &request, instance);
}

// Signs a 32-byte input (a SHA-256 hash to an RSA key) into a 1024-byte buffer.
inline int32_t signWith(ZelmorInstance instance, const char* serial, const uint8_t* identifier,
                        const char* pin = defaultPin) {
    uint8_t buffer[1024] = {1};
    uint32_t length = sizeof buffer;
    return zelmor_signHash(serial, identifier, pin, buffer, 32, buffer, &length, false, instance);
}
