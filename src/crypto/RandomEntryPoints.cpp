// C_GenerateRandom.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_GenerateRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return initialised("C_GenerateRandom", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
