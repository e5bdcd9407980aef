// C_EncryptInit, C_Encrypt, C_DecryptInit, C_Decrypt.
#include "crypto/CipherInit.h"
#include "crypto/Decryption.h"
#include "crypto/Encryption.h"
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return bySession("C_EncryptInit", hSession, [&](SessionRef session) {
        return cipherInit(session, pMechanism, hKey, CipherDirection::Encrypt);
    });
}

CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                CK_ULONG_PTR pulEncryptedDataLen) {
    return bySession("C_Encrypt", hSession, [&](SessionRef session) {
        return encrypt(session, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
    });
}

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return bySession("C_DecryptInit", hSession, [&](SessionRef session) {
        return cipherInit(session, pMechanism, hKey, CipherDirection::Decrypt);
    });
}

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    return bySession("C_Decrypt", hSession, [&](SessionRef session) {
        return decrypt(session, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
    });
}
