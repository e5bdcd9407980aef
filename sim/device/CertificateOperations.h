// Importing and deleting certificates on a device, after the password check.
#pragma once

#include "DeviceRegistry.h"
#include "ResultCodes.h"

namespace zelmor::sim {

struct CertificateRequest {
    Bytes der;
    std::string label;
    Bytes id;
};

struct ImportedCertificate {
    int32_t result = result::failed;
    CertificateEntry entry;
};

// dataInvalid unless der is one whole X.509 certificate; deviceMemoryFull at capacity.
ImportedCertificate importCertificate(const DeviceStore& store, const PluggedDevice& device, const char* password,
                                      const CertificateRequest& request);

int32_t deleteCertificate(const DeviceStore& store, const PluggedDevice& device, const char* password,
                          const uint8_t* identifier);

}  // namespace zelmor::sim
