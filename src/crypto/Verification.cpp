#include "crypto/Verification.h"

#include <cstring>
#include <limits>
#include <string>

#include "crypto/HashContext.h"
#include "crypto/MechanismHashes.h"
#include "crypto/MultiPart.h"
#include "crypto/OperationSupport.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

namespace {

// What zelmor_verifySignatureHash needs from the session, copied under the lock.
struct VerificationCall {
    std::string deviceName;
    uint32_t keyKind = 0;
    uint8_t publicValue[zelmorPublicValueSize];
    uint32_t publicValueLength = 0;

    void capture(const SessionRecord& record) {
        deviceName = record.deviceName();
        keyKind = record.keyPair.keyKind;
        publicValueLength = zelmor::publicValueLength(record.keyPair);
        std::memcpy(publicValue, record.keyPair.publicValue, publicValueLength);
    }

    int32_t verifyOnDevice(const uint8_t* input, uint32_t inputLength, CK_BYTE_PTR signature,
                           CK_ULONG signatureLength) const {
        return zelmor_verifySignatureHash(keyKind, deviceName.c_str(), input, inputLength, publicValue,
                                          publicValueLength, signature, static_cast<uint32_t>(signatureLength),
                                          moduleState().instance());
    }
};

bool fitsDeviceLength(CK_ULONG length) { return length <= std::numeric_limits<uint32_t>::max(); }

// Every call that reaches zelmor_verifySignatureHash ends the operation. A
// valid signature is reported only while the call's operation is still the
// session's: once it ended, the verdict answers no one's question.
CK_RV verdict(const OperationRef& operation, int32_t result, const char* failureText) {
    CK_RV ended = endOperation(operation);
    if (result != ZelmorResult::ok) {
        logError(resultText(failureText, result));
        return CKR_SIGNATURE_INVALID;
    }
    return ended;
}

}  // namespace

CK_RV verifyInit(SessionRef handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE hKey) {
    std::string deviceName;
    auto checkSession = [](const SessionRecord& record) -> CK_RV {
        bool startable = record.activeOperation == ActiveOperation::None ||
                         record.activeOperation == ActiveOperation::Digest;
        // A digest whose context another call is working on is not replaced under it.
        return startable && !record.hashContextLent ? CKR_OK : CKR_OPERATION_ACTIVE;
    };
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        CK_RV checked = checkSession(record);
        if (checked != CKR_OK) return checked;
        int32_t hashAlgorithm = 0;
        if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
        // The mechanism parameter is not examined.
        if (!signingHashAlgorithm(mechanism->mechanism, &hashAlgorithm)) return CKR_MECHANISM_INVALID;
        deviceName = record.deviceName();
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;

    ZelmorKeyPair keyPair;
    rv = resolveKeyPair(deviceName, hKey, KeyHandles::PrivateOrPublic, "Invalid input handle in verify : ",
                        &keyPair);
    if (rv != CKR_OK) return rv;

    // An active digest is replaced and ends without a result; its context is released.
    DroppedHashContext stale;
    return withSession(handle, [&](SessionRecord& record) -> CK_RV {
        CK_RV checked = checkSession(record);
        if (checked != CKR_OK) return checked;
        stale.context = record.endOperation();
        record.startOperation(ActiveOperation::Verify);
        record.keyPair = keyPair;
        record.mechanism = static_cast<uint32_t>(mechanism->mechanism);
        return CKR_OK;
    });
}

CK_RV verify(SessionRef handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
             CK_ULONG signatureLength) {
    VerificationCall call;
    int32_t hashAlgorithm = rawInput;
    OperationRef operation;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Verify) return CKR_OPERATION_NOT_INITIALIZED;
        if (data == nullptr || signature == nullptr || dataLength == 0 || signatureLength == 0) {
            return CKR_ARGUMENTS_BAD;
        }
        signingHashAlgorithm(record.mechanism, &hashAlgorithm);
        if (hashAlgorithm == rawInput && !fitsDeviceLength(dataLength)) return CKR_DATA_LEN_RANGE;
        if (!fitsDeviceLength(signatureLength)) return CKR_SIGNATURE_LEN_RANGE;
        operation = operationOf(handle, record);
        call.capture(record);
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;

    const uint8_t* input = data;
    uint32_t inputLength = static_cast<uint32_t>(dataLength);
    HashValue hash;
    if (hashAlgorithm != rawInput) {
        // Hashing failures of the single-part call are not logged.
        if (hashOnce(call.deviceName, hashAlgorithm, data, dataLength, &hash).result != ZelmorResult::ok) {
            endOperation(operation);
            return CKR_FUNCTION_FAILED;
        }
        input = hash.bytes;
        inputLength = hash.length;
    }
    int32_t result = call.verifyOnDevice(input, inputLength, signature, signatureLength);
    return verdict(operation, result, "Verify signature failed : ");
}

CK_RV verifyUpdate(SessionRef handle, CK_BYTE_PTR part, CK_ULONG partLength) {
    static const PartFailureTexts texts{"C_VerifyUpdate: initHash failed ", "C_VerifyUpdate: updateHash failed "};
    return absorbPart(handle, ActiveOperation::Verify, part, partLength, texts);
}

CK_RV verifyFinal(SessionRef handle, CK_BYTE_PTR signature, CK_ULONG signatureLength) {
    VerificationCall call;
    PendingInput input;
    OperationRef operation;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Verify) return CKR_OPERATION_NOT_INITIALIZED;
        if (signature == nullptr || signatureLength == 0) return CKR_ARGUMENTS_BAD;
        if (!fitsDeviceLength(signatureLength)) return CKR_SIGNATURE_LEN_RANGE;
        operation = operationOf(handle, record);
        call.capture(record);
        return input.takeFrom(record);
    });
    if (rv != CKR_OK) return rv;

    int32_t result = input.finish();
    if (result != ZelmorResult::ok) {
        logError(resultText("C_VerifyFinal: finalHash failed ", result));
        endOperation(operation);
        return CKR_FUNCTION_FAILED;
    }
    result = call.verifyOnDevice(input.data(), input.length(), signature, signatureLength);
    return verdict(operation, result, "C_VerifyFinal: verify failed ");
}

}  // namespace zelmor
