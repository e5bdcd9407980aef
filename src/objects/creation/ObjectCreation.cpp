#include "objects/creation/ObjectCreation.h"

#include <string>

#include "frame/Log.h"
#include "objects/creation/CertificateImport.h"
#include "objects/creation/CreationTemplate.h"
#include "objects/creation/KeyImport.h"

namespace zelmor {

CK_RV createObject(SessionRef session, const CK_ATTRIBUTE* attributes, CK_ULONG count,
                   CK_OBJECT_HANDLE* phObject) {
    if (attributes == nullptr || count == 0 || phObject == nullptr) return CKR_ARGUMENTS_BAD;
    CreationTemplate values;
    CK_RV rv = readCreationTemplate(attributes, count, &values);
    if (rv != CKR_OK) return rv;
    switch (values.objectClass) {
        case CKO_CERTIFICATE:
            return importCertificate(session, values, phObject);
        case CKO_PRIVATE_KEY:
            return importPrivateKey(session, values, phObject);
        default:
            logError("Provided object class not supported : " + std::to_string(values.objectClass));
            return CKR_FUNCTION_NOT_SUPPORTED;
    }
}

}  // namespace zelmor
