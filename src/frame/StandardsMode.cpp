#include "frame/StandardsMode.h"

#include <cstdint>

#include "frame/ModuleState.h"
#include "platform/Platform.h"

namespace zelmor {

bool readStandardsSetting() {
    uint8_t data[32];
    if (!platform::readSettingValue("standardsMode", data)) return false;
    // The 32-bit little-endian value of a REG_DWORD.
    return (data[0] | data[1] | data[2] | data[3]) != 0;
}

bool standardsMode() { return moduleState().standardsMode.load(); }

}  // namespace zelmor
