#include "crypto/CipherInit.h"

#include <string>

#include "crypto/HashContext.h"
#include "frame/Log.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

namespace {

struct CipherRules {
    bool checksSessionState;        // decryption only: not in a read-only public session
    KeyHandles acceptedHandles;     // encryption also takes public-key handles
    const char* notFoundText;
    ActiveOperation started;        // from None
    ActiveOperation withDigest;     // from Digest
};

const CipherRules encryptRules{false, KeyHandles::PrivateOrPublic, "Invalid input handle in encrypt : ",
                               ActiveOperation::Encrypt, ActiveOperation::DigestEncrypt};
const CipherRules decryptRules{true, KeyHandles::PrivateOnly, "Invalid input handle in decrypt : ",
                               ActiveOperation::Decrypt, ActiveOperation::DecryptDigest};

CK_RV checkSession(const SessionRecord& record, const CipherRules& rules, SessionStateCheck& stateCheck) {
    if (rules.checksSessionState && !stateCheck.allows(record)) return CKR_SESSION_HANDLE_INVALID;
    bool startable = record.activeOperation == ActiveOperation::None ||
                     record.activeOperation == ActiveOperation::Digest;
    return startable ? CKR_OK : CKR_OPERATION_ACTIVE;
}

}  // namespace

CK_RV cipherInit(SessionRef handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE hKey, CipherDirection direction) {
    const CipherRules& rules = direction == CipherDirection::Encrypt ? encryptRules : decryptRules;
    SessionStateCheck stateCheck;
    std::string deviceName;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) -> CK_RV {
        CK_RV checked = checkSession(record, rules, stateCheck);
        if (checked != CKR_OK) return checked;
        if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
        if (mechanism->mechanism != CKM_RSA_PKCS) return CKR_MECHANISM_INVALID;
        if (hasParameter(*mechanism)) return CKR_MECHANISM_PARAM_INVALID;
        deviceName = record.deviceName();
        return CKR_OK;
    });
    stateCheck.logRefusal("Decrypt session state invalid : ");
    if (rv != CKR_OK) return rv;

    ZelmorKeyPair keyPair;
    rv = resolveKeyPair(deviceName, hKey, rules.acceptedHandles, rules.notFoundText, &keyPair);
    if (rv != CKR_OK) return rv;

    DroppedHashContext stale;
    return withSession(handle, [&](SessionRecord& record) -> CK_RV {
        CK_RV checked = checkSession(record, rules, stateCheck);
        if (checked != CKR_OK) return checked;
        // With a digest active the session enters DigestEncrypt or
        // DecryptDigest. No entry point proceeds in those states: C_Encrypt,
        // C_Decrypt and the digest calls answer CKR_OPERATION_NOT_INITIALIZED,
        // every Init CKR_OPERATION_ACTIVE, and the dual-function calls are not
        // offered. Only C_FindObjectsInit or closing the session leaves them;
        // the digest's hash context stays in the session until then.
        if (record.activeOperation == ActiveOperation::Digest) {
            record.outputCache.discard();
            record.startOperation(rules.withDigest);
        } else {
            stale.context = record.endOperation();
            record.startOperation(rules.started);
        }
        record.keyPair = keyPair;
        return CKR_OK;
    });
}

}  // namespace zelmor
