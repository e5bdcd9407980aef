// C_GetAttributeValue, C_SetAttributeValue, C_GetObjectSize, C_DestroyObject.
#include "frame/EntryPoint.h"
#include "objects/AttributeReader.h"
#include "objects/AttributeWriter.h"
#include "objects/ObjectDestroyer.h"

using namespace zelmor;

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
    return bySession("C_GetAttributeValue", hSession, [&](SessionRef session) {
        return readAttributes(session, hObject, pTemplate, ulCount);
    });
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
    return bySession("C_SetAttributeValue", hSession, [&](SessionRef session) {
        return writeAttributes(session, hObject, pTemplate, ulCount);
    });
}

CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize) {
    return bySession("C_GetObjectSize", hSession,
                     [&](SessionRef session) { return readObjectSize(session, hObject, pulSize); });
}

// The session is looked up by the work itself: an unknown one gets its own log line.
CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    return initialised("C_DestroyObject", [&] { return destroyObject(hSession, hObject); });
}
