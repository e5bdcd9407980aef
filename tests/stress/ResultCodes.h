// The result codes each entry point may return in the stress run, and their names.
#pragma once

#include <set>
#include <string>

#include "pkcs11.h"

namespace stress {

// True when rv is one the entry point may give under concurrent use and
// device removal.
bool allowedResult(const std::string& function, CK_RV rv);

std::string resultName(CK_RV rv);

}  // namespace stress
