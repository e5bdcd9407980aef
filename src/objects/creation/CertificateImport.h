// Importing a certificate together with the chain of CA certificates that
// issued it, found in the CA folder.
#pragma once

#include "objects/creation/CreationTemplate.h"
#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// Imports the chain root first and the certificate last; without a complete
// chain, the certificate alone. *phObject receives the certificate's handle
// when the device lists it afterwards.
CK_RV importCertificate(SessionRef session, const CreationTemplate& values, CK_OBJECT_HANDLE* phObject);

}  // namespace zelmor
