#include "objects/ObjectSearch.h"

#include <string>
#include <utility>
#include <vector>

#include "crypto/HashContext.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "frame/StandardsMode.h"
#include "objects/ObjectHandles.h"
#include "objects/ObjectSelection.h"
#include "objects/SearchTemplate.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

namespace {

struct DeviceLists {
    std::vector<ZelmorCertificate> certificates;
    std::vector<ZelmorKeyPair> keyPairs;
};

// Both lists of the device; an empty one makes the device library
// initialise the device and both are read again.
DeviceLists fetchDeviceLists(const std::string& deviceName) {
    DeviceLists lists{fetchCertificateList(deviceName), fetchKeyPairList(deviceName)};
    if (!lists.certificates.empty() && !lists.keyPairs.empty()) return lists;
    int32_t result = zelmor_initDevice(deviceName.c_str(), true, moduleState().instance());
    if (result != ZelmorResult::ok) {
        logError("Init device for certificates in find objects failed : " + std::to_string(result));
        return lists;
    }
    return DeviceLists{fetchCertificateList(deviceName), fetchKeyPairList(deviceName)};
}

// The search's objects in their fixed order: public keys, private keys,
// certificates.
std::vector<CK_OBJECT_HANDLE> searchSequence(const SessionRecord& record) {
    std::vector<CK_OBJECT_HANDLE> sequence;
    if (record.includePublicKeys) {
        for (const ZelmorKeyPair& keyPair : record.foundKeyPairs) sequence.push_back(publicKeyHandle(keyPair.number));
    }
    if (record.includePrivateKeys) {
        for (const ZelmorKeyPair& keyPair : record.foundKeyPairs) sequence.push_back(privateKeyHandle(keyPair.number));
    }
    for (const ZelmorCertificate& certificate : record.foundCertificates) {
        sequence.push_back(certificateHandle(certificate.number));
    }
    return sequence;
}

}  // namespace

CK_RV findObjectsInit(SessionRef session, CK_ATTRIBUTE_PTR searchTemplate, CK_ULONG count) {
    if (searchTemplate == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    std::string deviceName;
    // The running search is emptied first: a refused template leaves it finding nothing.
    CK_RV rv = withSession(session, [&](SessionRecord& record) {
        record.foundCertificates.clear();
        record.foundKeyPairs.clear();
        deviceName = record.deviceName();
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;
    logDebug("Find object init count : " + std::to_string(count));

    SearchCriteria criteria;
    rv = readSearchTemplate(searchTemplate, count, standardsMode(), &criteria);
    if (rv != CKR_OK) return rv;

    // Device calls without the session lock; the results go in afterwards.
    DeviceLists lists = fetchDeviceLists(deviceName);
    if (criteria.id) logDebug("Find init id : " + toHex(criteria.id->data(), criteria.id->size()));
    SearchSelection selection = selectObjects(criteria, lists.certificates, lists.keyPairs);

    // The search replaces whatever operation is active; nothing of that one stays behind.
    DroppedHashContext replaced;
    return withSession(session, [&](SessionRecord& record) {
        replaced.context = record.endOperation();
        record.startOperation(ActiveOperation::Find);
        record.foundCertificates = std::move(selection.certificates);
        record.foundKeyPairs = std::move(selection.keyPairs);
        record.includePublicKeys = selection.publicKeys;
        record.includePrivateKeys = selection.privateKeysForUser && isUserState(record.state);
        record.findPosition = 0;
        return CKR_OK;
    });
}

CK_RV findObjects(SessionRef session, CK_OBJECT_HANDLE_PTR handles, CK_ULONG maxCount, CK_ULONG_PTR count) {
    return withSession(session, [&](SessionRecord& record) -> CK_RV {
        if (record.activeOperation != ActiveOperation::Find) return CKR_OPERATION_NOT_INITIALIZED;
        if (count == nullptr || (handles == nullptr && maxCount != 0)) return CKR_ARGUMENTS_BAD;
        *count = 0;
        const std::vector<CK_OBJECT_HANDLE> sequence = searchSequence(record);
        logDebug("C_FindObjects find object count : " + std::to_string(sequence.size()));
        if (sequence.empty()) {
            logDebug("C_FindObjects find object count 0");
            return CKR_OK;
        }
        CK_ULONG written = 0;
        if (maxCount == 0) {
            logDebug("C_FindObjects find object max count is 0 : " + std::to_string(maxCount));
        } else {
            for (std::size_t i = record.findPosition; i < sequence.size() && written < maxCount; ++i) {
                handles[written++] = sequence[i];
            }
        }
        *count = written;
        for (CK_ULONG i = 0; i < written; ++i) logDebug("Find object return : " + std::to_string(handles[i]));
        record.findPosition += static_cast<uint32_t>(written);
        logDebug("C_FindObjects find object count return : " + std::to_string(*count));
        return CKR_OK;
    });
}

CK_RV findObjectsFinal(SessionRef session) {
    DroppedHashContext none;  // a search has no hash context
    return withSession(session, [&](SessionRecord& record) {
        if (record.activeOperation != ActiveOperation::Find) return CKR_OPERATION_NOT_INITIALIZED;
        none.context = record.endOperation();
        return CKR_OK;
    });
}

}  // namespace zelmor
