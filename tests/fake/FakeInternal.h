// Shared between the fake's state and its device operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "FakeDeviceLibrary.h"

std::mutex& fakeMutex();
FakeState& fakeState();

// Bytes of the public value the fake gives a key of this kind.
inline std::size_t fakePublicValueLength(uint32_t keyKind) {
    switch (keyKind) {
        case 1: return 128;
        case 3: return 384;
        case 4: return 512;
        case 5: return 65;
        case 6: return 97;
        case 7: return 133;
        default: return 256;
    }
}
