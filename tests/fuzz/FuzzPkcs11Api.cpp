// Harness: one input is a sequence of entry-point calls with arbitrary
// handles, flags, mechanisms, templates, buffer sizes and PINs, against the
// test fake. Every input starts from the same device state and closes the
// sessions it opened.
#include <cstddef>
#include <cstdint>

#include "ApiDriver.h"
#include "HarnessSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CK_FUNCTION_LIST_PTR f = fuzzing::initialisedModule();
    fuzzing::FuzzInput in(data, size);
    fuzzing::resetFakeDevice(in.byte() % 3);
    CK_ULONG count = 8;
    CK_SLOT_ID slots[8];
    f->C_GetSlotList(CK_TRUE, slots, &count);

    fuzzing::ApiDriver driver(f);
    for (int steps = 0; steps < 96 && !in.empty(); ++steps) {
        // The fake records every call; the record is not needed here.
        fakeLibrary().clearCalls();
        driver.step(in);
    }
    driver.closeSessions();
    return 0;
}
