#include "crypto/Digesting.h"

#include <string>

#include "crypto/HashContext.h"
#include "crypto/MechanismHashes.h"
#include "crypto/OperationSupport.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

namespace {

const char finalFailedText[] = "Final hash data in diget failed : ";

CK_RV checkDigestStart(const SessionRecord& record, SessionStateCheck& stateCheck) {
    if (!stateCheck.allows(record)) return CKR_SESSION_HANDLE_INVALID;
    // A digest already active may be started again, but not while another
    // call works on its context.
    bool startable = record.activeOperation == ActiveOperation::None ||
                     record.activeOperation == ActiveOperation::Digest;
    return startable && !record.hashContextLent ? CKR_OK : CKR_OPERATION_ACTIVE;
}

// Finishes the lent context (it is gone afterwards, whatever the result) and,
// on success, keeps the digest in the session.
CK_RV finishDigest(const OperationRef& operation, ZelmorHashContext context, CK_BYTE_PTR output,
                   CK_ULONG_PTR outputLength) {
    HashValue value;
    int32_t result = finishHashContext(context, digestBufferSize, 0, &value);
    DroppedHashContext dropped;
    CK_RV rv = withOperation(operation, [&](SessionRecord& record) -> CK_RV {
        record.hashContextLent = false;
        if (result != ZelmorResult::ok) return CKR_FUNCTION_FAILED;
        if (!record.outputCache.ready) record.outputCache.keep(value.bytes, value.length);
        return deliverResult(record, output, outputLength, dropped);
    });
    if (result != ZelmorResult::ok) {
        logError(resultText(finalFailedText, result));
        return CKR_FUNCTION_FAILED;
    }
    return rv;
}

}  // namespace

CK_RV digestInit(SessionRef handle, CK_MECHANISM_PTR mechanism) {
    SessionStateCheck stateCheck;
    std::string deviceName;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        CK_RV checked = checkDigestStart(record, stateCheck);
        if (checked == CKR_OK) deviceName = record.deviceName();
        return checked;
    });
    stateCheck.logRefusal("Digest init session state invalid : ");
    if (rv != CKR_OK) return rv;
    if (mechanism == nullptr) {
        logError("C_DigestInit mechanism pointer in NULL");
        return CKR_ARGUMENTS_BAD;
    }
    // The mechanism parameter is not examined, and the type is not stored.
    int32_t hashAlgorithm = 0;
    if (!digestHashAlgorithm(mechanism->mechanism, &hashAlgorithm)) {
        logError("C_DigestInit mechanism not supported");
        return CKR_MECHANISM_INVALID;
    }

    ZelmorHashContext context = nullptr;
    int32_t result = zelmor_initHash(deviceName.c_str(), hashAlgorithm, &context, moduleState().instance());
    if (result != ZelmorResult::ok) {
        logError(resultText("Init hash in diges init failed : ", result));
        return CKR_FUNCTION_FAILED;
    }

    // The new context is released unless the session takes it (it may have
    // changed meanwhile); the unfinished one of a digest started again is
    // released in its place.
    DroppedHashContext unused;
    unused.context = context;
    return withSession(handle, [&](SessionRecord& record) -> CK_RV {
        CK_RV checked = checkDigestStart(record, stateCheck);
        if (checked != CKR_OK) return checked;
        unused.context = record.endOperation();
        record.startOperation(ActiveOperation::Digest);
        record.hashContext = context;
        return CKR_OK;
    });
}

CK_RV digest(SessionRef handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR output,
             CK_ULONG_PTR outputLength) {
    ZelmorHashContext context = nullptr;
    OperationRef operation;
    bool delivered = false;
    DroppedHashContext dropped;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Digest) return CKR_OPERATION_NOT_INITIALIZED;
        if (data == nullptr || dataLength == 0 || outputLength == nullptr) return CKR_ARGUMENTS_BAD;
        if (record.outputCache.ready) {
            // Finished by an earlier call of this operation: this call's data is not used.
            delivered = true;
            return deliverResult(record, output, outputLength, dropped);
        }
        operation = operationOf(handle, record);
        return lendHashContext(record, &context);
    });
    if (!delivered && rv == CKR_OK) {
        int32_t result = updateHashContext(context, data, dataLength);
        if (result != ZelmorResult::ok) {
            logError(resultText("Update hash data in diget failed : ", result));
            // A failed update does not end the digest.
            returnHashContext(operation, context);
            return CKR_FUNCTION_FAILED;
        }
        rv = finishDigest(operation, context, output, outputLength);
    }
    if (rv == CKR_OK) logDebug("C_Digest Success");
    return rv;
}

CK_RV digestUpdate(SessionRef handle, CK_BYTE_PTR part, CK_ULONG partLength) {
    ZelmorHashContext context = nullptr;
    OperationRef operation;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Digest) return CKR_OPERATION_NOT_INITIALIZED;
        if (part == nullptr || partLength == 0) return CKR_ARGUMENTS_BAD;
        operation = operationOf(handle, record);
        return lendHashContext(record, &context);
    });
    if (rv != CKR_OK) return rv;
    int32_t result = updateHashContext(context, part, partLength);
    // The part counts only if the context went back into the same digest: a
    // digest ended meanwhile never saw it, and the caller must know.
    CK_RV returned = returnHashContext(operation, context);
    if (result != ZelmorResult::ok) {
        logError(resultText("Update hash data in digest update failed : ", result));
        return CKR_FUNCTION_FAILED;
    }
    return returned;
}

CK_RV digestFinal(SessionRef handle, CK_BYTE_PTR output, CK_ULONG_PTR outputLength) {
    ZelmorHashContext context = nullptr;
    OperationRef operation;
    bool delivered = false;
    DroppedHashContext dropped;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Digest) return CKR_OPERATION_NOT_INITIALIZED;
        if (outputLength == nullptr) return CKR_ARGUMENTS_BAD;
        if (record.outputCache.ready) {
            delivered = true;
            return deliverResult(record, output, outputLength, dropped);
        }
        operation = operationOf(handle, record);
        return lendHashContext(record, &context);
    });
    if (!delivered && rv == CKR_OK) rv = finishDigest(operation, context, output, outputLength);
    if (rv == CKR_OK) logDebug("C_DigestFinal Success");
    return rv;
}

}  // namespace zelmor
