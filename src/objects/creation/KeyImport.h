// Importing an RSA private key from its raw components.
#pragma once

#include "objects/creation/CreationTemplate.h"
#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// Hands modulus, private exponent and first prime with label and ID to the
// device library; elliptic-curve keys are refused. *phObject receives the new
// private key's handle when the device lists the key pair afterwards.
CK_RV importPrivateKey(SessionRef session, const CreationTemplate& values, CK_OBJECT_HANDLE* phObject);

}  // namespace zelmor
