#include "objects/creation/CertificateImport.h"

#include <cstring>
#include <string>
#include <vector>

#include "device/DeviceResults.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "objects/ObjectHandles.h"
#include "objects/creation/CaFolder.h"
#include "objects/creation/CaIndex.h"
#include "objects/creation/CertificateRecord.h"
#include "objects/creation/ChainBuilder.h"
#include "objects/creation/CreatedObjectLookup.h"
#include "objects/creation/DeviceAccess.h"

namespace zelmor {

namespace {

const std::vector<std::string>& caFileExtensions() {
    static const std::vector<std::string> extensions{".cer", ".der", ".pem", ".crt"};
    return extensions;
}

// Imports the records in order; stops at the first refusal. On success
// identifier holds what the library wrote into the last record.
CK_RV importRecords(const DeviceAccess& access, std::vector<ZelmorCertificate>& records, bool logEachSuccess,
                    uint8_t (&identifier)[zelmorIdentifierSize]) {
    for (ZelmorCertificate& record : records) {
        int32_t result = zelmor_importCertificate(access.deviceName.c_str(), access.password.c_str(), &record,
                                                  moduleState().instance());
        if (result != ZelmorResult::ok) {
            logError("Leaf import failed: " + std::to_string(result));
            return creationFailure(result);
        }
        if (logEachSuccess) logDebug("Certificate imported successfully");
    }
    std::memcpy(identifier, records.back().identifier, zelmorIdentifierSize);
    return CKR_OK;
}

// Looks the imported leaf up and hands its handle out if the session is
// still open.
CK_RV reportLeaf(SessionRef session, const DeviceAccess& access, const uint8_t* identifier,
                 CK_OBJECT_HANDLE* phObject) {
    uint32_t number = 0;
    bool found = findCertificateByIdentifier(access.deviceName, identifier, &number);
    CK_RV rv = confirmSessionOpen(session);
    if (rv != CKR_OK) return rv;
    if (found) *phObject = static_cast<uint32_t>(certificateHandleBase + number);
    return CKR_OK;
}

}  // namespace

CK_RV importCertificate(SessionRef session, const CreationTemplate& values, CK_OBJECT_HANDLE* phObject) {
    if (values.value.empty()) {
        logError("Certificate data not available in create object");
        return CKR_FUNCTION_FAILED;
    }
    // The record's value field holds 3072 bytes; a longer certificate cannot
    // be carried whole.
    if (values.value.size() > zelmorCertificateValueSize) return CKR_ATTRIBUTE_VALUE_INVALID;

    std::vector<ZelmorCertificate> leafOnly{makeCertificateRecord(values.value, values.label, values.id)};
    const ZelmorCertificate& leaf = leafOnly.front();
    CertificateDetails leafDetails{};
    if (zelmor_getCertificateDetails(leaf.value, leaf.valueLength, &leafDetails, nullptr) != 0) {
        logDebug("certificate parsing failed");
        return CKR_DATA_INVALID;
    }

    const Utils& utils = moduleState().utils;
    const std::string folder = caFolderPath(utils);
    const ZelmorFileList files =
        zelmor_getFilesWithExtensionsAndConvertDER(folder.c_str(), caFileExtensions(), nullptr);
    std::vector<ZelmorCertificate> chain;
    if (!files.empty()) chain = buildChain(leaf, leafDetails, buildCaIndexes(files, utils), utils);

    DeviceAccess access;
    CK_RV rv = copyDeviceAccess(session, &access);
    if (rv != CKR_OK) return rv;

    uint8_t identifier[zelmorIdentifierSize] = {};
    if (!chain.empty()) {
        rv = importRecords(access, chain, true, identifier);
        if (rv != CKR_OK) return rv;
        return reportLeaf(session, access, identifier, phObject);
    }

    logDebug("Chain import skipped or failed \xE2\x80\x94 Performing normal leaf import");
    rv = importRecords(access, leafOnly, false, identifier);
    if (rv != CKR_OK) return rv;
    return reportLeaf(session, access, identifier, phObject);
}

}  // namespace zelmor
