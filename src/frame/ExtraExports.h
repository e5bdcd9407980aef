// Three functions exported under their C++ decorated names, outside the
// function list. They are not offered and answer CKR_FUNCTION_NOT_SUPPORTED.
#pragma once

#include "pkcs11.h"

CK_PKCS11_EXTRA_EXPORT unsigned long C_EjectToken(unsigned long slotId);
CK_PKCS11_EXTRA_EXPORT unsigned long C_GetUnmanagedStructSizeList(unsigned long* sizes, unsigned long* count);
CK_PKCS11_EXTRA_EXPORT unsigned long C_InteractiveLogin(unsigned long session);
