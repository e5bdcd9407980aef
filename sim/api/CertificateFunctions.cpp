// Certificate list, import and deletion.
#include "../device/CertificateOperations.h"
#include "../device/RecordConversion.h"
#include "ApiGuard.h"
#include "SimInstance.h"

#include <cstring>

using namespace zelmor::sim;

namespace {
// The snapshot behind each thread's latest list: the list stays valid until
// that thread asks again, however the device changes meanwhile.
thread_local std::shared_ptr<const DeviceSnapshot> latestCertificateListOwner;
const std::vector<ZelmorCertificate> noCertificates;
}  // namespace

const std::vector<ZelmorCertificate>& zelmor_getCertificateList(const char* deviceName, ZelmorInstance instance) {
    latestCertificateListOwner = guarded<std::shared_ptr<const DeviceSnapshot>>(
        nullptr, [&] { return pluggedDevice(instance, deviceName).snapshot; });
    return latestCertificateListOwner ? latestCertificateListOwner->certificateRecords : noCertificates;
}

int32_t zelmor_importCertificate(const char* deviceName, const char* password, ZelmorCertificate* certificate,
                                 ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        if (certificate == nullptr || certificate->valueLength <= 0 ||
            static_cast<std::size_t>(certificate->valueLength) > zelmorCertificateValueSize)
            return result::invalidArgument;
        const auto id = idBytes(certificate->id, certificate->idLength);
        if (!id) return result::invalidArgument;
        CertificateRequest request;
        request.der.assign(certificate->value, certificate->value + certificate->valueLength);
        request.label = fixedFieldText(certificate->label, sizeof certificate->label);
        request.id = *id;
        const ImportedCertificate imported =
            importCertificate(SimInstance::from(instance)->store(), device, password, request);
        if (imported.result == result::ok) {
            certificate->number = imported.entry.number;
            std::memcpy(certificate->identifier, imported.entry.identifier.data(), sizeof certificate->identifier);
        }
        return imported.result;
    });
}

int32_t zelmor_deleteCertificate(const char* deviceName, const uint8_t* certificateIdentifier, const char* password,
                                 ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        return deleteCertificate(SimInstance::from(instance)->store(), device, password, certificateIdentifier);
    });
}
