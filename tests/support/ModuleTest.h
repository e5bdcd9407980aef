// Base fixture of the API tests: one module per process, initialised once and
// shared; every test starts with a reset fake holding one connected device,
// no open session and nobody logged in.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDeviceLibrary.h"
#include "ModuleLoader.h"
#include "TestEnvironment.h"

namespace testing_support {

constexpr CK_SLOT_ID firstSlot = 0x50000001;
extern const char* const defaultDevice;  // "ZLM0000001"
extern const char* const defaultPin;     // "12345678"

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    CK_FUNCTION_LIST_PTR f() const { return p11(); }

    // Rebuilds the slot cache (C_GetSlotList with a buffer); returns the IDs.
    std::vector<CK_SLOT_ID> refreshSlots();
    CK_SESSION_HANDLE openSession(bool readWrite = true, CK_SLOT_ID slot = firstSlot);
    void login(CK_SESSION_HANDLE session, const std::string& pin = defaultPin);
    // Sets the standardsMode value (noStandardsMode: none) and re-initialises
    // the module, which reads it at C_Initialize; open sessions are closed.
    // TearDown removes the value again.
    static constexpr int noStandardsMode = -1;
    void reinitialiseWithStandardsMode(int value);

private:
    bool standardsModeSet = false;
};

// Brings the shared module to the initialised state (C_Initialize if needed).
void ensureInitialised();
// The state C_GetSessionInfo reports (expects CKR_OK).
CK_STATE sessionState(CK_SESSION_HANDLE session);

}  // namespace testing_support
