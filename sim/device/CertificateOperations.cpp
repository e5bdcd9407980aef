#include "CertificateOperations.h"

#include "../crypto/Certificates.h"
#include "DeviceChange.h"
#include "ObjectNumbering.h"
#include "PasswordCheck.h"

#include <algorithm>

namespace zelmor::sim {

ImportedCertificate importCertificate(const DeviceStore& store, const PluggedDevice& device, const char* password,
                                      const CertificateRequest& request) {
    ImportedCertificate imported;
    if (request.label.size() > limits::maxObjectLabelLength || request.id.size() > limits::maxObjectIdLength) {
        imported.result = result::invalidArgument;
        return imported;
    }
    if (!parseCertificate(request.der.data(), request.der.size())) {
        imported.result = result::dataInvalid;
        return imported;
    }
    const PasswordOutcome verified = checkPassword(store, device, password);
    if (verified.result != result::ok) {
        imported.result = verified.result;
        return imported;
    }
    imported.result = commitChange(
        store, device.handle->serial(), PlugRequirement::mustBePlugged,
        [&](DeviceMetadata& metadata, std::vector<PendingFile>& files) -> ChangeOutcome {
            if (metadata.certificates.size() >= metadata.certificateCapacity) return {result::deviceMemoryFull, false};
            CertificateEntry entry;
            entry.number = lowestFreeNumber(metadata.certificates);
            entry.identifier = newIdentifier(metadata.certificates);
            entry.id = request.id;
            entry.label = request.label;
            files.push_back({PendingFile::Kind::certificate, entry.identifier, request.der});
            metadata.certificates.push_back(entry);
            imported.entry = entry;
            return {result::ok, true};
        });
    return imported;
}

int32_t deleteCertificate(const DeviceStore& store, const PluggedDevice& device, const char* password,
                          const uint8_t* identifier) {
    if (identifier == nullptr) return result::invalidArgument;
    const PasswordOutcome verified = checkPassword(store, device, password);
    if (verified.result != result::ok) return verified.result;
    return commitChange(store, device.handle->serial(), PlugRequirement::mustBePlugged,
                        [&](DeviceMetadata& metadata, std::vector<PendingFile>&) -> ChangeOutcome {
                            auto& entries = metadata.certificates;
                            const auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& entry) {
                                return std::equal(entry.identifier.begin(), entry.identifier.end(), identifier);
                            });
                            if (it == entries.end()) return {result::objectNotFound, false};
                            entries.erase(it);
                            return {result::ok, true};
                        });
}

}  // namespace zelmor::sim
