// Start and stop of the module: C_Initialize and C_Finalize work.
#pragma once

#include "pkcs11.h"

namespace zelmor {
CK_RV initializeModule();
CK_RV finalizeModule();
CK_RV fillModuleInfo(CK_INFO_PTR info);
}  // namespace zelmor
