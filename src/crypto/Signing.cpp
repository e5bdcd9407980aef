// C_SignInit and single-part C_Sign; the multi-part calls are in
// SigningParts.cpp.
#include "crypto/Signing.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "crypto/HashContext.h"
#include "crypto/MechanismHashes.h"
#include "crypto/OperationSupport.h"
#include "crypto/SignatureCall.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

int32_t signOnDevice(const SignatureCall& call, const uint8_t* input, uint32_t inputLength,
                     SignatureValue* signature) {
    std::memset(signature->bytes, 0, sizeof signature->bytes);
    uint32_t length = sizeof signature->bytes;
    int32_t result = zelmor_signHash(call.deviceName.c_str(), call.identifier, call.password.c_str(), input,
                                     inputLength, signature->bytes, &length, false, moduleState().instance());
    signature->length = result == ZelmorResult::ok ? std::min<uint32_t>(length, sizeof signature->bytes) : 0;
    return result;
}

CK_RV signInit(SessionRef handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE hKey) {
    SessionStateCheck stateCheck;
    std::string deviceName;
    auto checkSession = [&](const SessionRecord& record) -> CK_RV {
        if (!stateCheck.allows(record)) return CKR_SESSION_HANDLE_INVALID;
        if (record.activeOperation != ActiveOperation::None) return CKR_OPERATION_ACTIVE;
        return CKR_OK;
    };
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        CK_RV checked = checkSession(record);
        if (checked != CKR_OK) return checked;
        int32_t hashAlgorithm = 0;
        if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
        if (!signingHashAlgorithm(mechanism->mechanism, &hashAlgorithm)) return CKR_MECHANISM_INVALID;
        if (hasParameter(*mechanism)) return CKR_MECHANISM_PARAM_INVALID;
        deviceName = record.deviceName();
        return CKR_OK;
    });
    stateCheck.logRefusal("Sign init session state invalid : ");
    if (rv != CKR_OK) return rv;

    ZelmorKeyPair keyPair;
    rv = resolveKeyPair(deviceName, hKey, KeyHandles::PrivateOnly, "Invalid input handle in sign : ", &keyPair);
    if (rv != CKR_OK) return rv;

    // The session may have changed while the key pair was looked up.
    DroppedHashContext stale;
    return withSession(handle, [&](SessionRecord& record) -> CK_RV {
        CK_RV checked = checkSession(record);
        if (checked != CKR_OK) return checked;
        stale.context = record.endOperation();
        record.startOperation(ActiveOperation::Sign);
        record.mechanism = static_cast<uint32_t>(mechanism->mechanism);
        record.keyPair = keyPair;
        return CKR_OK;
    });
}

namespace {

const char* hashFailureText(HashStep step) {
    switch (step) {
        case HashStep::Init: return "init hash failed ";
        case HashStep::Update: return "update hash failed ";
        default: return "final hash failed ";
    }
}

void logSignInput(const SignatureCall& call, const uint8_t* input, uint32_t length) {
    logDebug("Sign: password empty=" + std::string(call.password.empty() ? "1" : "0") +
             " hashLen=" + std::to_string(length) + " session state=" + std::to_string(call.state));
    if (input == nullptr || length == 0) {
        logDebug("Sign input hash : NULL or empty");
    } else {
        logDebug("Sign input hash : " + toHex(input, length));
    }
}

}  // namespace

CK_RV keepAndDeliverSignature(const OperationRef& operation, const SignatureValue& signature, CK_BYTE_PTR output,
                              CK_ULONG_PTR outputLength) {
    DroppedHashContext dropped;
    return withOperation(operation, [&](SessionRecord& record) -> CK_RV {
        if (!record.outputCache.ready) record.outputCache.keep(signature.bytes, signature.length);
        return deliverResult(record, output, outputLength, dropped);
    });
}

CK_RV sign(SessionRef handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
           CK_ULONG_PTR signatureLength) {
    SignatureCall call;
    OperationRef operation;
    bool delivered = false;
    DroppedHashContext dropped;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Sign) return CKR_OPERATION_NOT_INITIALIZED;
        if (data == nullptr || dataLength == 0 || signatureLength == nullptr) return CKR_ARGUMENTS_BAD;
        call.mechanism = record.mechanism;
        if (record.outputCache.ready) {
            // Computed by an earlier call of this operation: this call's data is not used.
            delivered = true;
            return deliverResult(record, signature, signatureLength, dropped);
        }
        operation = operationOf(handle, record);
        call.capture(record, moduleState().userPassword);
        return CKR_OK;
    });
    if (!delivered && rv != CKR_OK) return rv;
    // The level is read once here: this path is timed, and the hex dump costs.
    const bool debug = debugLogging();
    if (debug) logDebug("sign echanism : " + std::to_string(call.mechanism));
    if (delivered) return rv;

    signingHashAlgorithm(call.mechanism, &call.hashAlgorithm);
    const uint8_t* input = data;
    uint32_t inputLength = 0;
    HashValue hash;
    if (call.hashAlgorithm == rawInput) {
        if (dataLength > std::numeric_limits<uint32_t>::max()) return CKR_DATA_LEN_RANGE;
        inputLength = static_cast<uint32_t>(dataLength);
    } else {
        HashOutcome outcome = hashOnce(call.deviceName, call.hashAlgorithm, data, dataLength, &hash);
        if (outcome.result != ZelmorResult::ok) {
            logError(resultText(hashFailureText(outcome.failedStep), outcome.result));
            endOperation(operation);
            return CKR_FUNCTION_FAILED;
        }
        input = hash.bytes;
        inputLength = hash.length;
    }

    if (debug) logSignInput(call, input, inputLength);
    SignatureValue value;
    int32_t result = signOnDevice(call, input, inputLength, &value);
    if (result != ZelmorResult::ok) {
        logError(resultText("Sign hash failed : ", result));
        endOperation(operation);
        return CKR_FUNCTION_FAILED;
    }
    return keepAndDeliverSignature(operation, value, signature, signatureLength);
}

}  // namespace zelmor
