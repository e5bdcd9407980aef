#include "objects/ObjectSelection.h"

#include "objects/ObjectHandles.h"
#include "objects/ObjectView.h"
#include "objects/RecordView.h"

namespace zelmor {

namespace {

bool keyMatches(const SearchCriteria& criteria, const ZelmorKeyPair& keyPair) {
    if (criteria.label) return labelOf(keyPair) == *criteria.label;
    if (criteria.value) return publicValueOf(keyPair).equals(*criteria.value);
    if (criteria.id) return idOf(keyPair).equals(*criteria.id);
    if (criteria.modulus) return publicValueOf(keyPair).equals(*criteria.modulus);
    if (criteria.ecPoint) {
        // The DER form, or the bare point that some applications send.
        const std::vector<uint8_t> point = ecPointOf(keyPair);
        return !point.empty() && (point == *criteria.ecPoint || publicValueOf(keyPair).equals(*criteria.ecPoint));
    }
    return true;
}

bool certificateMatches(const SearchCriteria& criteria, const ZelmorCertificate& certificate) {
    if (criteria.label) return labelOf(certificate) == *criteria.label;
    if (criteria.value) return valueOf(certificate).equals(*criteria.value);
    if (criteria.id) return idOf(certificate).equals(*criteria.id);
    if (criteria.subject) {
        ByteRange value = valueOf(certificate);
        ZelmorBytes subject =
            zelmor_getCertificateSubject(value.data, static_cast<int32_t>(value.size), nullptr);
        return subject == *criteria.subject;
    }
    return true;
}

}  // namespace

SearchSelection selectObjects(const SearchCriteria& criteria, const std::vector<ZelmorCertificate>& certificates,
                              const std::vector<ZelmorKeyPair>& keyPairs) {
    SearchSelection selection;
    // Records whose number no handle can carry would come back as handles
    // of other objects; they are left out of every search.
    const CK_OBJECT_CLASS objectClass = criteria.objectClass;
    if (objectClass == CKO_CERTIFICATE) {
        for (const ZelmorCertificate& certificate : certificates) {
            if (hasObjectHandles(certificate) && certificateMatches(criteria, certificate)) {
                selection.certificates.push_back(certificate);
            }
        }
        return selection;
    }
    const bool anyClass = objectClass == noObjectClass;
    if (!anyClass && objectClass != CKO_PUBLIC_KEY && objectClass != CKO_PRIVATE_KEY) return selection;
    if (anyClass) {
        for (const ZelmorCertificate& certificate : certificates) {
            if (hasObjectHandles(certificate)) selection.certificates.push_back(certificate);
        }
    }
    for (const ZelmorKeyPair& keyPair : keyPairs) {
        if (hasObjectHandles(keyPair) && (anyClass || keyMatches(criteria, keyPair))) {
            selection.keyPairs.push_back(keyPair);
        }
    }
    if (!selection.keyPairs.empty()) {
        selection.publicKeys = anyClass || objectClass == CKO_PUBLIC_KEY;
        selection.privateKeysForUser = anyClass || objectClass == CKO_PRIVATE_KEY;
    }
    return selection;
}

}  // namespace zelmor
