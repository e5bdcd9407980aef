// What one zelmor_signHash call needs from the session, copied under
// sessionTableMutex so that the call itself runs without it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "ZelmorDSCLibrary.h"
#include "crypto/OperationSupport.h"
#include "pkcs11.h"
#include "sessions/SessionRecord.h"
#include "utils/SecretString.h"

namespace zelmor {

struct SignatureCall {
    std::string deviceName;
    uint8_t identifier[zelmorIdentifierSize] = {};
    SecretString password;
    int32_t hashAlgorithm = 0;
    uint32_t mechanism = 0;
    uint32_t state = 0;

    // Only the identifier of the session's key-pair copy is needed for signing;
    // the mechanism is copied by the caller that uses it.
    void capture(const SessionRecord& record, const SecretString& userPassword) {
        deviceName = record.deviceName();
        std::memcpy(identifier, record.keyPair.identifier, sizeof identifier);
        password = userPassword;
        state = record.state;
    }
};

// A signature as zelmor_signHash returns it: 1024 bytes offered.
struct SignatureValue {
    uint8_t bytes[zelmorOutputBufferSize];
    uint32_t length = 0;
};

// Calls zelmor_signHash with a zero-filled 1024-byte buffer. The reported
// length is clamped to the buffer so that it can be trusted afterwards.
int32_t signOnDevice(const SignatureCall& call, const uint8_t* input, uint32_t inputLength, SignatureValue* signature);

// Keeps a new signature in the session (unless a concurrent call of the same
// operation kept one first) and runs the output step. An operation that ended
// meanwhile gives CKR_OPERATION_NOT_INITIALIZED: the signature is dropped.
CK_RV keepAndDeliverSignature(const OperationRef& operation, const SignatureValue& signature, CK_BYTE_PTR output,
                              CK_ULONG_PTR outputLength);

}  // namespace zelmor
