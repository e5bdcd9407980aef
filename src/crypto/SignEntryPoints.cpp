// C_SignInit, C_Sign, C_SignUpdate, C_SignFinal.
#include "crypto/Signing.h"
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return bySession("C_SignInit", hSession, [&](SessionRef session) { return signInit(session, pMechanism, hKey); });
}

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen) {
    return bySession("C_Sign", hSession, [&](SessionRef session) {
        return sign(session, pData, ulDataLen, pSignature, pulSignatureLen);
    });
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return bySession("C_SignUpdate", hSession, [&](SessionRef session) { return signUpdate(session, pPart, ulPartLen); });
}

CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    return bySession("C_SignFinal", hSession, [&](SessionRef session) {
        return signFinal(session, pSignature, pulSignatureLen);
    });
}
