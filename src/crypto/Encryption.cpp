#include "crypto/Encryption.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "crypto/OperationSupport.h"
#include "crypto/PublicKeyEncoding.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

EncryptionType encryptionTypeFor(uint32_t keyKind) {
    switch (keyKind) {
        case keyKindRsa1024: return encryptionRsa1024;
        case keyKindRsa2048: return encryptionRsa2048;
        case keyKindRsa3072: return encryptionRsa3072;
        case keyKindRsa4096: return encryptionRsa4096;
        default: return encryptionRsa2048;
    }
}

CK_RV encrypt(SessionRef handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR encrypted,
              CK_ULONG_PTR encryptedLength) {
    uint32_t keyKind = 0;
    std::vector<uint8_t> publicKey;
    OperationRef operation;
    bool delivered = false;
    DroppedHashContext dropped;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Encrypt) return CKR_OPERATION_NOT_INITIALIZED;
        if (data == nullptr || dataLength == 0 || encryptedLength == nullptr) return CKR_ARGUMENTS_BAD;
        if (record.outputCache.ready) {
            // Computed by an earlier call of this operation: this call's data is not used.
            delivered = true;
            return deliverResult(record, encrypted, encryptedLength, dropped);
        }
        if (dataLength > std::numeric_limits<uint32_t>::max()) return CKR_DATA_LEN_RANGE;
        operation = operationOf(handle, record);
        keyKind = record.keyPair.keyKind;
        publicKey = encodeRsaSubjectPublicKeyInfo(record.keyPair.publicValue, publicValueLength(record.keyPair));
        return CKR_OK;
    });
    if (delivered || rv != CKR_OK) return rv;

    uint8_t ciphertext[zelmorOutputBufferSize] = {};
    uint32_t ciphertextLength = 0;  // output only
    int32_t result = zelmor_encrypt(encryptionTypeFor(keyKind), paddingPkcs1, data, static_cast<uint32_t>(dataLength),
                                    ciphertext, &ciphertextLength, publicKey.data(),
                                    static_cast<uint32_t>(publicKey.size()), moduleState().instance());
    if (result != ZelmorResult::ok) {
        logError(resultText("Encrypt data failed : ", result));
        endOperation(operation);
        return CKR_FUNCTION_FAILED;
    }
    // The reported length must not make the module read past the buffer.
    ciphertextLength = std::min<uint32_t>(ciphertextLength, sizeof ciphertext);

    return withOperation(operation, [&](SessionRecord& record) -> CK_RV {
        if (!record.outputCache.ready) record.outputCache.keep(ciphertext, ciphertextLength);
        return deliverResult(record, encrypted, encryptedLength, dropped);
    });
}

}  // namespace zelmor
