// Multi-part signing: C_SignUpdate and C_SignFinal.
#include "crypto/MultiPart.h"
#include "crypto/OperationSupport.h"
#include "crypto/SignatureCall.h"
#include "crypto/Signing.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

CK_RV signUpdate(SessionRef handle, CK_BYTE_PTR part, CK_ULONG partLength) {
    static const PartFailureTexts texts{"C_SignUpdate: initHash failed ", "C_SignUpdate: updateHash failed "};
    return absorbPart(handle, ActiveOperation::Sign, part, partLength, texts);
}

CK_RV signFinal(SessionRef handle, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength) {
    SignatureCall call;
    PendingInput input;
    OperationRef operation;
    bool delivered = false;
    DroppedHashContext dropped;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Sign) return CKR_OPERATION_NOT_INITIALIZED;
        if (signatureLength == nullptr) return CKR_ARGUMENTS_BAD;
        if (record.outputCache.ready) {
            delivered = true;
            return deliverResult(record, signature, signatureLength, dropped);
        }
        operation = operationOf(handle, record);
        call.capture(record, moduleState().userPassword);
        return input.takeFrom(record);
    });
    if (delivered || rv != CKR_OK) return rv;

    int32_t result = input.finish();
    if (result != ZelmorResult::ok) {
        logError(resultText("C_SignFinal: finalHash failed ", result));
        endOperation(operation);
        return CKR_FUNCTION_FAILED;
    }
    SignatureValue value;
    result = signOnDevice(call, input.data(), input.length(), &value);
    if (result != ZelmorResult::ok) {
        logError(resultText("C_SignFinal: signHash failed ", result));
        endOperation(operation);
        return CKR_FUNCTION_FAILED;
    }
    return keepAndDeliverSignature(operation, value, signature, signatureLength);
}

}  // namespace zelmor
