#include "crypto/OperationSupport.h"

#include <algorithm>
#include <limits>

#include "crypto/HashContext.h"
#include "frame/Log.h"
#include "objects/ObjectHandles.h"
#include "objects/RecordView.h"
#include "sessions/SessionAccess.h"
#include "utils/OutputBuffer.h"

namespace zelmor {

bool debugLogging() { return getLogLevel() >= logLevelDebug; }

CK_RV endOperation(const OperationRef& operation) {
    DroppedHashContext dropped;
    return withOperation(operation, [&](SessionRecord& record) {
        dropped.context = record.endOperation();
        return CKR_OK;
    });
}

CK_RV deliverResult(SessionRecord& record, CK_BYTE_PTR buffer, CK_ULONG_PTR length, DroppedHashContext& dropped) {
    const SecretBytes& result = record.outputCache.bytes;
    OutputStep step = deliverOutput(result.data(), result.size(), buffer, length);
    if (step == OutputStep::Copied) dropped.context = record.endOperation();
    return resultOf(step);
}

CK_RV lendHashContext(SessionRecord& record, ZelmorHashContext* context) {
    if (record.hashContextLent) return CKR_OPERATION_ACTIVE;
    *context = record.hashContext;
    record.hashContext = nullptr;
    record.hashContextLent = true;
    return CKR_OK;
}

CK_RV returnHashContext(const OperationRef& operation, ZelmorHashContext context) {
    // A borrower whose operation is gone finishes its context: installing it
    // would feed the old data into the next operation.
    CK_RV rv = withOperation(operation, [&](SessionRecord& record) -> CK_RV {
        record.hashContextLent = false;
        // Defensive: nothing opens a context while one is out.
        if (record.hashContext != nullptr) return CKR_FUNCTION_FAILED;
        record.hashContext = context;
        context = nullptr;
        return CKR_OK;
    });
    releaseHashContext(context);
    return rv;
}

CK_RV resolveKeyPair(const std::string& deviceName, CK_OBJECT_HANDLE hKey, KeyHandles accepted,
                     const char* notFoundText, ZelmorKeyPair* keyPair) {
    if (hKey < privateKeyHandleBase) return CKR_OBJECT_HANDLE_INVALID;
    // Handles are 32-bit: a larger value (possible where CK_ULONG has 64 bits) names nothing.
    bool found = false;
    if (hKey <= std::numeric_limits<uint32_t>::max()) {
        uint32_t value = static_cast<uint32_t>(hKey);
        uint32_t base = accepted == KeyHandles::PrivateOrPublic && value >= publicKeyHandleBase ? publicKeyHandleBase
                                                                                              : privateKeyHandleBase;
        found = findKeyPair(deviceName, value - base, keyPair);
    }
    if (found) return CKR_OK;
    logError(notFoundText + std::to_string(hKey));
    return CKR_OBJECT_HANDLE_INVALID;
}

bool isOperationState(uint32_t state) { return state >= CKS_RO_USER_FUNCTIONS && state <= CKS_RW_SO_FUNCTIONS; }

void SessionStateCheck::logRefusal(const char* text) const {
    if (refused_.has_value()) logDebug(text + std::to_string(refused_.value()));
}

uint32_t publicValueLength(const ZelmorKeyPair& keyPair) {
    return static_cast<uint32_t>(publicValueOf(keyPair).size);
}

}  // namespace zelmor
