// C_CreateObject, C_GenerateKeyPair.
#include "frame/EntryPoint.h"
#include "objects/creation/KeyGeneration.h"
#include "objects/creation/ObjectCreation.h"

using namespace zelmor;

CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                     CK_OBJECT_HANDLE_PTR phObject) {
    return bySession("C_CreateObject", hSession, [&](SessionRef session) {
        return createObject(session, pTemplate, ulCount, phObject);
    });
}

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                        CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                        CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE_PTR phPublicKey,
                        CK_OBJECT_HANDLE_PTR phPrivateKey) {
    return bySession("C_GenerateKeyPair", hSession, [&](SessionRef session) {
        return generateKeyPair(session, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount,
                               pPrivateKeyTemplate, ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey);
    });
}
