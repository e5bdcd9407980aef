#include "slots/MechanismTable.h"

#include <string>

#include "frame/Log.h"

namespace zelmor {

namespace {
constexpr CK_FLAGS signVerify = CKF_SIGN | CKF_VERIFY;
}  // namespace

const MechanismEntry mechanismTable[mechanismCount] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, 1024, 4096, CKF_GENERATE_KEY_PAIR},
    {CKM_RSA_PKCS, 1024, 4096, CKF_ENCRYPT | CKF_DECRYPT | signVerify},
    {CKM_SHA1_RSA_PKCS, 1024, 4096, signVerify},
    {CKM_SHA256_RSA_PKCS, 1024, 4096, signVerify},
    {CKM_SHA384_RSA_PKCS, 1024, 4096, signVerify},
    {CKM_SHA512_RSA_PKCS, 1024, 4096, signVerify},
    {CKM_EC_KEY_PAIR_GEN, 256, 521, CKF_GENERATE_KEY_PAIR},
    {CKM_ECDSA, 256, 521, signVerify},
    {CKM_ECDSA_SHA1, 256, 521, signVerify},
    {CKM_ECDSA_SHA256, 256, 521, signVerify},
    {CKM_ECDSA_SHA384, 256, 521, signVerify},
    {CKM_SHA_1, 0, 0, CKF_DIGEST},
    {CKM_SHA256, 0, 0, CKF_DIGEST},
    {CKM_SHA384, 0, 0, CKF_DIGEST},
    {CKM_SHA512, 0, 0, CKF_DIGEST},
};

const MechanismEntry* findMechanism(CK_MECHANISM_TYPE type) {
    for (const MechanismEntry& entry : mechanismTable) {
        if (entry.type == type) return &entry;
    }
    return nullptr;
}

CK_RV listMechanisms(CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    if (list != nullptr) {
        if (*count < mechanismCount) {
            *count = mechanismCount;
            return CKR_BUFFER_TOO_SMALL;
        }
        for (std::size_t i = 0; i < mechanismCount; ++i) list[i] = mechanismTable[i].type;
    }
    *count = mechanismCount;
    return CKR_OK;
}

CK_RV describeMechanism(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    logDebug("C_GetMechanismInfo -- type : " + std::to_string(type));
    const MechanismEntry* entry = findMechanism(type);
    if (entry == nullptr) return CKR_MECHANISM_INVALID;
    info->ulMinKeySize = entry->minKeySize;
    info->ulMaxKeySize = entry->maxKeySize;
    info->flags = entry->flags;
    logDebug("C_GetMechanismInfo -- exit");
    return CKR_OK;
}

}  // namespace zelmor
