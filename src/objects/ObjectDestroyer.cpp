#include "objects/ObjectDestroyer.h"

#include <string>

#include "device/DeviceResults.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "objects/ObjectHandles.h"
#include "sessions/SessionAccess.h"
#include "utils/SecretString.h"

namespace zelmor {

namespace {

// What a deletion needs of the session, copied under the lock.
struct DeletionContext {
    std::string deviceName;
    SecretString password;
};

CK_RV deleteKeyPair(const DeletionContext& context, CK_OBJECT_HANDLE handle, uint32_t number) {
    ZelmorKeyPair keyPair;
    if (!findKeyPair(context.deviceName, number, &keyPair)) {
        logDebug("Input keypair not found in destroy : " + std::to_string(handle));
        return CKR_OBJECT_HANDLE_INVALID;
    }
    const int32_t result = zelmor_deleteKeyPair(context.deviceName.c_str(), keyPair.identifier,
                                                context.password.c_str(), keyPair.keyFlag != 0,
                                                moduleState().instance());
    if (result != ZelmorResult::ok) {
        logError("Delete keypair in destroy object failed : " + std::to_string(result));
        return objectChangeFailure(result);
    }
    return CKR_OK;
}

CK_RV deleteCertificate(const DeletionContext& context, CK_OBJECT_HANDLE handle, uint32_t number) {
    ZelmorCertificate certificate;
    if (!findCertificate(context.deviceName, number, &certificate)) {
        logDebug("Input certificate not found in destroy : " + std::to_string(handle));
        return CKR_OBJECT_HANDLE_INVALID;
    }
    const int32_t result = zelmor_deleteCertificate(context.deviceName.c_str(), certificate.identifier,
                                                    context.password.c_str(), moduleState().instance());
    if (result != ZelmorResult::ok) {
        logError("Delete certificate in destroy object failed : " + std::to_string(result));
        return objectChangeFailure(result);
    }
    return CKR_OK;
}

}  // namespace

CK_RV destroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle) {
    DeletionContext context;
    SessionRef found;
    CK_RV rv = lookUpSession(session, &found);
    if (rv == CKR_OK) {
        rv = withSession(found, [&](SessionRecord& record) {
            const bool readWrite = record.state == CKS_RW_PUBLIC_SESSION ||
                                   record.state == CKS_RW_USER_FUNCTIONS || record.state == CKS_RW_SO_FUNCTIONS;
            if (!readWrite) {
                logDebug("Delete session state invalid : " + std::to_string(record.state));
                return CKR_SESSION_READ_ONLY;
            }
            context.deviceName = record.deviceName();
            context.password = moduleState().userPassword;
            return CKR_OK;
        });
    }
    if (rv == CKR_SESSION_HANDLE_INVALID) logDebug("Delete session state invalid");
    if (rv != CKR_OK) return rv;

    logDebug("Delete key pair id : " + std::to_string(handle));
    const DecodedHandle decoded = decodeObjectHandle(handle);
    switch (decoded.kind) {
        case ObjectKind::PrivateKey: return deleteKeyPair(context, handle, decoded.number);
        case ObjectKind::Certificate: return deleteCertificate(context, handle, decoded.number);
        case ObjectKind::PublicKey:
        case ObjectKind::None: break;
    }
    return CKR_OBJECT_HANDLE_INVALID;
}

}  // namespace zelmor
