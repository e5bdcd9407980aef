// Pieces shared by the cryptographic operations: ending an operation, the
// output step of the two-call entry points, key-handle resolution and the
// checks every Init makes.
//
// Locking: sessionTableMutex is held only while a session record or
// userPassword is read or written, never across a device-library call. A
// call copies what it needs, releases the lock, calls the library, then takes
// the lock again and looks the session up afresh (by handle and serial, see
// sessions/SessionAccess.h) before storing anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ZelmorDSCLibrary.h"
#include "crypto/HashContext.h"
#include "pkcs11.h"
#include "sessions/SessionAccess.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// Whether debug lines are written now; guards building costly log text.
bool debugLogging();

// The operation one call works on, taken at the call's first look-up. A
// later look-up of the call reaches the session only while that very
// operation is active: the result, hash context or verdict of a call whose
// operation ended meanwhile never lands in the next one.
struct OperationRef {
    SessionRef session;
    ActiveOperation kind = ActiveOperation::None;
    uint64_t serial = 0;
};

inline OperationRef operationOf(SessionRef session, const SessionRecord& record) {
    return OperationRef{session, record.activeOperation, record.operationSerial};
}

// Runs work(record) under sessionTableMutex while `operation` is the
// session's; otherwise CKR_OPERATION_NOT_INITIALIZED, or
// CKR_SESSION_HANDLE_INVALID when the session was closed.
template <typename Work>
CK_RV withOperation(const OperationRef& operation, Work&& work) {
    return withSession(operation.session, [&](SessionRecord& record) -> CK_RV {
        bool current = record.activeOperation == operation.kind && record.operationSerial == operation.serial;
        return current ? work(record) : CKR_OPERATION_NOT_INITIALIZED;
    });
}

// Ends `operation` if it is still active (see SessionRecord::endOperation);
// the result is withOperation's.
CK_RV endOperation(const OperationRef& operation);

// The output step of C_Sign, C_SignFinal, C_Encrypt, C_Decrypt, C_Digest and
// C_DigestFinal: reports the length of the session's kept result or copies it
// out (see deliverOutput). A copied result ends the operation, whose hash
// context, if any, goes to `dropped`.
CK_RV deliverResult(SessionRecord& record, CK_BYTE_PTR buffer, CK_ULONG_PTR length, DroppedHashContext& dropped);

// The session's hash context is lent to one call at a time, which works on it
// without the lock. While it is out, other calls of the session that would
// feed, finish or replace it get CKR_OPERATION_ACTIVE: they must neither
// touch it together with the borrower nor find it missing and hand the
// library none.
CK_RV lendHashContext(SessionRecord& record, ZelmorHashContext* context);

// Ends the loan: the context goes back into the session if `operation` is
// still active there (CKR_OK); otherwise, or when the session was closed or
// replaced meanwhile, it is finished so that the library can release it, and
// the result says why. A null context only ends the loan.
CK_RV returnHashContext(const OperationRef& operation, ZelmorHashContext context);

// Which key handles an Init accepts: signing and decryption take private-key
// handles only (number = hKey - 0x70000000); verification and encryption also
// public-key handles (from 0x70001000 up, number = hKey - 0x70001000).
enum class KeyHandles { PrivateOnly, PrivateOrPublic };

// Resolves hKey to a copy of the device's key pair (a device-library call:
// never call it with sessionTableMutex held). A handle below 0x70000000 is
// refused silently; one that names no key pair logs notFoundText and hKey.
CK_RV resolveKeyPair(const std::string& deviceName, CK_OBJECT_HANDLE hKey, KeyHandles accepted,
                     const char* notFoundText, ZelmorKeyPair* keyPair);

// The session states in which signing, digesting and decryption may start
// (1 to 4: every state but the read-only public one).
bool isOperationState(uint32_t state);

// The state check of signing, digesting and decryption. A refused state is
// kept, to be logged once sessionTableMutex is released.
class SessionStateCheck {
public:
    // Whether the session's state lets an operation start; a refused state is kept.
    bool allows(const SessionRecord& record) {
        if (isOperationState(record.state)) return true;
        refused_ = record.state;
        return false;
    }
    // Logs text followed by the refused state, at debug level, if a check refused one.
    void logRefusal(const char* text) const;

private:
    std::optional<uint32_t> refused_;
};

// pMechanism carries a parameter.
inline bool hasParameter(const CK_MECHANISM& mechanism) {
    return mechanism.pParameter != nullptr || mechanism.ulParameterLen != 0;
}

// The public value of a key pair, its length clamped to 0..1024: the length
// comes from the device library and must not make the module read past the
// record's 1024-byte field.
uint32_t publicValueLength(const ZelmorKeyPair& keyPair);

// Result codes of the device library in log lines: signed decimal.
inline std::string resultText(const char* text, int32_t result) { return text + std::to_string(result); }

}  // namespace zelmor
