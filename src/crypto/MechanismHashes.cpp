#include "crypto/MechanismHashes.h"

#include <cstddef>

#include "ZelmorDSCLibrary.h"

namespace zelmor {

namespace {

struct MechanismHash {
    CK_MECHANISM_TYPE mechanism;
    int32_t hashAlgorithm;
};

// The bare hash goes to the device, which tells the algorithm by its length;
// CKM_RSA_PKCS and CKM_ECDSA sign the caller's bytes as they are.
constexpr MechanismHash signingMechanisms[] = {
    {CKM_RSA_PKCS, rawInput},         {CKM_SHA1_RSA_PKCS, hashSha1},   {CKM_SHA256_RSA_PKCS, hashSha256},
    {CKM_SHA384_RSA_PKCS, hashSha384}, {CKM_SHA512_RSA_PKCS, hashSha512}, {CKM_ECDSA, rawInput},
    {CKM_ECDSA_SHA1, hashSha1},       {CKM_ECDSA_SHA256, hashSha256},  {CKM_ECDSA_SHA384, hashSha384},
};

constexpr MechanismHash digestMechanisms[] = {
    {CKM_SHA_1, hashSha1}, {CKM_SHA256, hashSha256}, {CKM_SHA384, hashSha384}, {CKM_SHA512, hashSha512},
};

template <std::size_t N>
bool lookUp(const MechanismHash (&table)[N], CK_MECHANISM_TYPE mechanism, int32_t* hashAlgorithm) {
    for (const MechanismHash& entry : table) {
        if (entry.mechanism != mechanism) continue;
        *hashAlgorithm = entry.hashAlgorithm;
        return true;
    }
    return false;
}

}  // namespace

bool signingHashAlgorithm(CK_MECHANISM_TYPE mechanism, int32_t* hashAlgorithm) {
    return lookUp(signingMechanisms, mechanism, hashAlgorithm);
}

bool digestHashAlgorithm(CK_MECHANISM_TYPE mechanism, int32_t* hashAlgorithm) {
    return lookUp(digestMechanisms, mechanism, hashAlgorithm);
}

}  // namespace zelmor
