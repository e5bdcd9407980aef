// C_DigestInit, C_Digest, C_DigestUpdate, C_DigestFinal.
#include "crypto/Digesting.h"
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
    return bySession("C_DigestInit", hSession, [&](SessionRef session) { return digestInit(session, pMechanism); });
}

CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
               CK_ULONG_PTR pulDigestLen) {
    return bySession("C_Digest", hSession, [&](SessionRef session) {
        return digest(session, pData, ulDataLen, pDigest, pulDigestLen);
    });
}

CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return bySession("C_DigestUpdate", hSession,
                     [&](SessionRef session) { return digestUpdate(session, pPart, ulPartLen); });
}

CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
    return bySession("C_DigestFinal", hSession,
                     [&](SessionRef session) { return digestFinal(session, pDigest, pulDigestLen); });
}
