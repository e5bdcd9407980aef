#include "crypto/OperationSupport.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "frame/Log.h"
#include "objects/ObjectHandles.h"
#include "objects/RecordView.h"
#include "sessions/SessionAccess.h"
#include "utils/OutputBuffer.h"

namespace zelmor {

bool debugLogging() { return getLogLevel() >= logLevelDebug; }

CK_RV endOperation(SessionHandle handle, ActiveOperation operation) {
    return withSession(handle, [&](SessionRecord& record) {
        if (record.activeOperation == operation) record.activeOperation = ActiveOperation::None;
        return CKR_OK;
    });
}

void wipe(std::vector<uint8_t>& bytes) {
    if (!bytes.empty()) std::memset(bytes.data(), 0, bytes.size());
    bytes.clear();
}

CK_RV deliverResult(SessionRecord& record, std::vector<uint8_t>& result, CK_BYTE_PTR buffer, CK_ULONG_PTR length,
                    bool* copied) {
    OutputStep step = deliverOutput(result, buffer, length);
    if (copied != nullptr) *copied = step == OutputStep::Copied;
    if (step == OutputStep::Copied) {
        wipe(result);
        record.activeOperation = ActiveOperation::None;
    }
    return resultOf(step);
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

uint32_t publicValueLength(const ZelmorKeyPair& keyPair) {
    return static_cast<uint32_t>(publicValueOf(keyPair).size);
}

}  // namespace zelmor
