#pragma once

#include "pkcs11.h"

namespace zelmor {
// The module's one version 2.20 function list.
extern const CK_FUNCTION_LIST moduleFunctionList;
}  // namespace zelmor
