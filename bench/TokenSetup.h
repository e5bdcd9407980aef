// Puts on the token what the measurements need: the two signing key pairs
// and the population of key pairs and certificates that the search walks.
#pragma once

#include "Pkcs11Module.h"

namespace bench {

struct KeyPairHandles {
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

struct BenchKeys {
    KeyPairHandles rsa;  // RSA-2048, label "bench-rsa2048"
    KeyPairHandles ec;   // P-256, label "bench-p256"
};

// Finds the two key pairs by label, generating whichever is missing.
// The session must be read-write and logged in.
BenchKeys prepareBenchKeys(const Session& session);

// Tops the token up to `count` further RSA-2048 key pairs and `count`
// certificates (C_GenerateKeyPair, C_CreateObject with DER values made by
// libcrypto). Existing objects count towards the totals.
void populateToken(const Session& session, unsigned count);

} // namespace bench
