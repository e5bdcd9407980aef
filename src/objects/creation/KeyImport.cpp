#include "objects/creation/KeyImport.h"

#include <string>

#include "device/DeviceResults.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "objects/ObjectHandles.h"
#include "objects/creation/CreatedObjectLookup.h"
#include "objects/creation/DeviceAccess.h"

namespace zelmor {

namespace {
// Keeps the copies of the private components only as long as the call needs them.
struct WipedImportDetails {
    ImportPFXDetails details{};
    ~WipedImportDetails() {
        wipeBytes(details.privateExponent);
        wipeBytes(details.prime1);
    }
};

constexpr int32_t importKindRsa = 2;
}  // namespace

CK_RV importPrivateKey(SessionRef session, const CreationTemplate& values, CK_OBJECT_HANDLE* phObject) {
    if (values.keyType == CKK_EC) {
        logError("ECC keypair not supported for import");
        return CKR_FUNCTION_FAILED;
    }
    if (values.modulus.empty() || values.privateExponent.empty() || values.prime1.empty()) {
        logError("Invalid input parameters for import RSA key");
        return CKR_FUNCTION_FAILED;
    }

    WipedImportDetails request;
    ImportPFXDetails& details = request.details;
    details.modulus = values.modulus;
    details.privateExponent = values.privateExponent;
    details.prime1 = values.prime1;
    details.kind = importKindRsa;
    details.label = values.label;
    details.id = values.id;

    DeviceAccess access;
    CK_RV rv = copyDeviceAccess(session, &access);
    if (rv != CKR_OK) return rv;

    int32_t result =
        zelmor_importPfx(access.deviceName.c_str(), access.password.c_str(), &details, moduleState().instance());
    if (result != ZelmorResult::ok) {
        logError("Import private key into device failed : " + std::to_string(result));
        return creationFailure(result);
    }

    uint32_t number = 0;
    const ZelmorBytes identifier = details.keyPairIdentifier;
    bool found = findKeyPairByIdentifier(access.deviceName, identifier.data(), identifier.size(), &number);
    rv = confirmSessionOpen(session);
    if (rv != CKR_OK) return rv;
    if (found) *phObject = static_cast<uint32_t>(privateKeyHandleBase + number);
    return CKR_OK;
}

}  // namespace zelmor
