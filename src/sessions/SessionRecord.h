// One open PKCS#11 session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZelmorDSCLibrary.h"
#include "pkcs11.h"
#include "utils/SecretString.h"

// The one operation a session may have active. DigestEncrypt and
// DecryptDigest exist as codes only: no entry point starts them.
enum class ActiveOperation : uint32_t {
    None = 0,
    Find = 1,
    Encrypt = 2,
    Decrypt = 3,
    Digest = 4,
    Sign = 5,
    Verify = 7,
    DigestEncrypt = 9,
    DecryptDigest = 10,
};

using SessionHandle = uint32_t;
using SlotId = uint32_t;
constexpr SessionHandle firstSessionHandle = 0x60000001;

// A session as one call knows it: the handle, and the serial of the record
// that the call's first look-up found. Handles are reused, serials never
// while the module is loaded, so each later look-up of the call can tell that
// the handle now names another session.
struct SessionRef {
    SessionHandle handle = 0;
    uint64_t serial = 0;
};

// A finished signature, ciphertext, plaintext or digest waiting for the call
// that fetches it. `ready` says it has been computed: an empty plaintext is a
// result too. The bytes are wiped whenever they are replaced or dropped.
struct KeptResult {
    SecretBytes bytes;
    bool ready = false;

    void keep(const uint8_t* data, std::size_t length) {
        bytes.assign(data, length);
        ready = true;
    }
    void discard() {
        bytes.clear();
        ready = false;
    }
};

struct SessionRecord {
    uint64_t serial = 0;  // given by C_OpenSession, see SessionRef
    uint32_t state = CKS_RO_PUBLIC_SESSION;
    SlotId slotId = 0;
    TokenInfo tokenInfo{};
    ActiveOperation activeOperation = ActiveOperation::None;
    // Changes with every start and end of an operation: a call that took it
    // at its first look-up can tell later that its operation is gone, even
    // when one of the same kind has started since.
    uint64_t operationSerial = 0;
    std::vector<ZelmorCertificate> foundCertificates;
    std::vector<ZelmorKeyPair> foundKeyPairs;
    bool includePublicKeys = false;
    bool includePrivateKeys = false;
    uint32_t findPosition = 0;
    ZelmorKeyPair keyPair{};
    KeptResult outputCache;
    SecretBytes dataBuffer;  // parts of a multi-part raw signature or verification
    ZelmorHashContext hashContext = nullptr;
    // hashContext is out with one call, which works on it without the lock.
    bool hashContextLent = false;
    uint32_t mechanism = 0;

    const std::string& deviceName() const { return tokenInfo.serialNumber; }

    // Makes `kind` the session's operation under a new operation serial. A
    // hash context lent out belongs to the borrower's operation, which is
    // gone: the borrower finishes it when it finds that out.
    void startOperation(ActiveOperation kind) {
        ++operationSerial;
        activeOperation = kind;
        hashContextLent = false;
    }

    // Ends the active operation and leaves nothing of it behind: the kept
    // result and the buffered parts are wiped, and the hash context goes to
    // the caller, who finishes it once sessionTableMutex is released. The
    // search results stay until the next search.
    [[nodiscard]] ZelmorHashContext endOperation() {
        outputCache.discard();
        dataBuffer.clear();
        ZelmorHashContext unfinished = hashContext;
        hashContext = nullptr;
        startOperation(ActiveOperation::None);
        return unfinished;
    }
};

inline bool isUserState(uint32_t state) {
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS;
}
inline bool isReadOnlyState(uint32_t state) {
    return state == CKS_RO_PUBLIC_SESSION || state == CKS_RO_USER_FUNCTIONS;
}
