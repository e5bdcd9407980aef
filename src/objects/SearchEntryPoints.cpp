// C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal.
#include "frame/EntryPoint.h"
#include "objects/ObjectSearch.h"

using namespace zelmor;

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    return bySession("C_FindObjectsInit", hSession,
                     [&](SessionRef session) { return findObjectsInit(session, pTemplate, ulCount); });
}

CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                    CK_ULONG_PTR pulObjectCount) {
    return bySession("C_FindObjects", hSession, [&](SessionRef session) {
        return findObjects(session, phObject, ulMaxObjectCount, pulObjectCount);
    });
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    return bySession("C_FindObjectsFinal", hSession, [&](SessionRef session) { return findObjectsFinal(session); });
}
