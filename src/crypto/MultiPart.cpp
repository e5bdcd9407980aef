#include "crypto/MultiPart.h"

#include <limits>
#include <string>

#include "crypto/OperationSupport.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

CK_RV absorbPart(SessionRef handle, ActiveOperation operation, CK_BYTE_PTR part, CK_ULONG partLength,
                 const PartFailureTexts& texts) {
    std::string deviceName;
    int32_t hashAlgorithm = rawInput;
    ZelmorHashContext context = nullptr;
    OperationRef current;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != operation) return CKR_OPERATION_NOT_INITIALIZED;
        if (part == nullptr || partLength == 0) return CKR_ARGUMENTS_BAD;
        current = operationOf(handle, record);
        signingHashAlgorithm(record.mechanism, &hashAlgorithm);
        if (hashAlgorithm == rawInput) {
            // The whole input goes to the device in one call with a 32-bit length.
            if (partLength > std::numeric_limits<uint32_t>::max() - record.dataBuffer.size()) {
                return CKR_DATA_LEN_RANGE;
            }
            record.dataBuffer.append(part, partLength);
            return CKR_OK;
        }
        deviceName = record.deviceName();
        return lendHashContext(record, &context);
    });
    if (rv != CKR_OK || hashAlgorithm == rawInput) return rv;

    if (context == nullptr) {
        int32_t result = zelmor_initHash(deviceName.c_str(), hashAlgorithm, &context, moduleState().instance());
        if (result != ZelmorResult::ok) {
            logError(resultText(texts.initHashFailed, result));
            endOperation(current);
            return CKR_FUNCTION_FAILED;
        }
    }
    int32_t result = updateHashContext(context, part, partLength);
    if (result != ZelmorResult::ok) {
        logError(resultText(texts.updateHashFailed, result));
        releaseHashContext(context);
        endOperation(current);
        return CKR_FUNCTION_FAILED;
    }
    return returnHashContext(current, context);
}

CK_RV PendingInput::takeFrom(SessionRecord& record) {
    if (record.hashContextLent) return CKR_OPERATION_ACTIVE;
    signingHashAlgorithm(record.mechanism, &hashAlgorithm);
    context = record.hashContext;
    record.hashContext = nullptr;
    parts.swap(record.dataBuffer);  // leaves the session's buffer empty, as parts was
    return CKR_OK;
}

int32_t PendingInput::finish() {
    if (hashAlgorithm == rawInput) return ZelmorResult::ok;
    return finishHashContext(context, signingHashBufferSize, signingHashBufferSize, &hash);
}

}  // namespace zelmor
