#include "objects/creation/KeyGeneration.h"

#include <string>

#include "device/DeviceResults.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "frame/StandardsMode.h"
#include "objects/ObjectHandles.h"
#include "objects/creation/CreatedObjectLookup.h"
#include "objects/creation/DeviceAccess.h"
#include "objects/creation/GenerationRequest.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

namespace {
bool isReadWriteState(uint32_t state) {
    return state == CKS_RW_PUBLIC_SESSION || state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
}

// Under the standards setting the mechanism names the key type that a
// private-key template without CKA_KEY_TYPE gets; otherwise that is RSA.
CK_KEY_TYPE defaultKeyType(CK_MECHANISM_TYPE mechanism, bool standards) {
    return standards && mechanism == CKM_EC_KEY_PAIR_GEN ? CKK_EC : CKK_RSA;
}
}  // namespace

CK_RV generateKeyPair(SessionRef session, const CK_MECHANISM* mechanism, const CK_ATTRIBUTE* publicTemplate,
                      CK_ULONG publicCount, const CK_ATTRIBUTE* privateTemplate, CK_ULONG privateCount,
                      CK_OBJECT_HANDLE* phPublicKey, CK_OBJECT_HANDLE* phPrivateKey) {
    CK_RV rv = withSession(session, [](const SessionRecord& record) {
        return isReadWriteState(record.state) ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
    });
    if (rv != CKR_OK) return rv;
    if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
    // By default the mechanism type is not examined: the templates alone
    // decide the key.
    if (mechanism->pParameter != nullptr || mechanism->ulParameterLen != 0) return CKR_MECHANISM_PARAM_INVALID;
    const bool standards = standardsMode();
    // The standards setting accepts an empty private-key template.
    const bool privateTemplateGiven =
        standards ? privateTemplate != nullptr || privateCount == 0 : privateTemplate != nullptr && privateCount != 0;
    if (publicTemplate == nullptr || publicCount == 0 || !privateTemplateGiven || phPublicKey == nullptr ||
        phPrivateKey == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }

    ZelmorKeyPair request;
    rv = buildGenerationRequest(publicTemplate, publicCount, privateTemplate, privateCount,
                                defaultKeyType(mechanism->mechanism, standards), &request);
    if (rv != CKR_OK) return rv;

    DeviceAccess access;
    rv = copyDeviceAccess(session, &access);
    if (rv != CKR_OK) return rv;
    // Generation may take seconds: no module lock is held meanwhile.
    int32_t result = zelmor_generateKeyPair(access.deviceName.c_str(), access.password.c_str(), &request,
                                            moduleState().instance());
    if (result != ZelmorResult::ok) {
        logError("Generate key pair failed : " + std::to_string(result));
        return creationFailure(result);
    }
    // A number beyond the handle range would give handles of other objects.
    if (!generatedNumberFits(request.number)) {
        logError("Generated key pair number has no handle : " + std::to_string(request.number));
        return CKR_FUNCTION_FAILED;
    }
    rv = confirmSessionOpen(session);
    if (rv != CKR_OK) return rv;
    *phPublicKey = static_cast<uint32_t>(publicKeyHandleBase + request.number);
    *phPrivateKey = static_cast<uint32_t>(privateKeyHandleBase + request.number);
    logDebug("C_GenerateKeyPair - exit");
    return CKR_OK;
}

}  // namespace zelmor
