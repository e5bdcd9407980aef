#include "crypto/Decryption.h"

#include <cstring>
#include <limits>
#include <string>

#include "crypto/OperationSupport.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "platform/Platform.h"
#include "sessions/SessionAccess.h"
#include "utils/SecretString.h"

namespace zelmor {

namespace {

// The plaintext buffer that zelmor_decrypt allocates; the module owns it from
// the moment the call returns and releases it on every path.
class DeviceOutput {
public:
    DeviceOutput() = default;
    ~DeviceOutput() {
        if (bytes != nullptr) wipeBytes(bytes, length);
        platform::freeDeviceLibraryBuffer(bytes);
    }
    DeviceOutput(const DeviceOutput&) = delete;
    DeviceOutput& operator=(const DeviceOutput&) = delete;

    uint8_t* bytes = nullptr;
    uint32_t length = 0;
};

struct DecryptionCall {
    std::string deviceName;
    uint8_t identifier[zelmorIdentifierSize] = {};
    SecretString password;
    bool keyFlag = false;
};

}  // namespace

CK_RV decrypt(SessionRef handle, CK_BYTE_PTR encrypted, CK_ULONG encryptedLength, CK_BYTE_PTR data,
              CK_ULONG_PTR dataLength) {
    DecryptionCall call;
    OperationRef operation;
    bool delivered = false;
    DroppedHashContext dropped;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Decrypt) return CKR_OPERATION_NOT_INITIALIZED;
        if (encrypted == nullptr || encryptedLength == 0 || dataLength == nullptr) return CKR_ARGUMENTS_BAD;
        if (record.outputCache.ready) {
            delivered = true;
            return deliverResult(record, data, dataLength, dropped);
        }
        if (encryptedLength > std::numeric_limits<uint32_t>::max()) return CKR_ENCRYPTED_DATA_LEN_RANGE;
        operation = operationOf(handle, record);
        call.deviceName = record.deviceName();
        std::memcpy(call.identifier, record.keyPair.identifier, sizeof call.identifier);
        call.password = moduleState().userPassword;
        call.keyFlag = record.keyPair.keyFlag != 0;
        return CKR_OK;
    });
    if (delivered || rv != CKR_OK) return rv;

    DeviceOutput plaintext;
    int32_t result = zelmor_decrypt(call.deviceName.c_str(), call.identifier, call.password.c_str(), encrypted,
                                    static_cast<uint32_t>(encryptedLength), &plaintext.bytes, &plaintext.length,
                                    call.keyFlag, moduleState().instance());
    // A length without a buffer is a library fault, not a plaintext.
    if (result == ZelmorResult::ok && plaintext.bytes == nullptr && plaintext.length != 0) {
        result = -1;
    }
    if (result != ZelmorResult::ok) {
        // The operation stays active: the caller may try again.
        logError(resultText("Dacrypt data failed : ", result));
        return CKR_FUNCTION_FAILED;
    }

    // A plaintext for an operation that ended meanwhile is wiped with the
    // library's buffer: it may be from another key than the session's now.
    return withOperation(operation, [&](SessionRecord& record) -> CK_RV {
        // An empty plaintext is a result as well: the next call fetches it
        // without decrypting again.
        if (!record.outputCache.ready) record.outputCache.keep(plaintext.bytes, plaintext.length);
        return deliverResult(record, data, dataLength, dropped);
    });
}

}  // namespace zelmor
