// C_VerifyInit, C_Verify, C_VerifyUpdate, C_VerifyFinal.
#include "crypto/Verification.h"
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return bySession("C_VerifyInit", hSession,
                     [&](SessionRef session) { return verifyInit(session, pMechanism, hKey); });
}

CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
               CK_ULONG ulSignatureLen) {
    return bySession("C_Verify", hSession, [&](SessionRef session) {
        return verify(session, pData, ulDataLen, pSignature, ulSignatureLen);
    });
}

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return bySession("C_VerifyUpdate", hSession,
                     [&](SessionRef session) { return verifyUpdate(session, pPart, ulPartLen); });
}

CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    return bySession("C_VerifyFinal", hSession,
                     [&](SessionRef session) { return verifyFinal(session, pSignature, ulSignatureLen); });
}
