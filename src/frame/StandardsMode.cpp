#include "frame/StandardsMode.h"

#include <cstdint>

#include "frame/ModuleState.h"
#include "platform/Platform.h"

namespace zelmor {

bool readStandardsSetting() {
    uint8_t data[32];
    // Only a REG_DWORD: the text "0" of a REG_SZ would read as non-zero.
    if (!platform::readSettingValue("standardsMode", data, true)) return false;
    return (data[0] | data[1] | data[2] | data[3]) != 0;
}

bool standardsMode() { return moduleState().standardsMode.load(); }

}  // namespace zelmor
