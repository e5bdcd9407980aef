// Certificate parsing and the CA-folder reader; they need no device or instance.
#include "../crypto/CertificateFiles.h"
#include "../crypto/Certificates.h"
#include "../device/ResultCodes.h"
#include "ApiGuard.h"
#include "ZelmorDSCLibrary.h"

using namespace zelmor::sim;

namespace {
X509Ptr parseGiven(const uint8_t* der, int32_t derLength) {
    return derLength > 0 ? parseCertificate(der, static_cast<std::size_t>(derLength)) : nullptr;
}
}  // namespace

ZelmorBytes zelmor_getCertificateSubject(const uint8_t* der, int32_t derLength, ZelmorInstance) {
    return guarded<ZelmorBytes>({}, [&] {
        const X509Ptr certificate = parseGiven(der, derLength);
        return certificate ? subjectDer(certificate.get()) : ZelmorBytes{};
    });
}

ZelmorBytes zelmor_getCertificateIssuer(const uint8_t* der, int32_t derLength, ZelmorInstance) {
    return guarded<ZelmorBytes>({}, [&] {
        const X509Ptr certificate = parseGiven(der, derLength);
        return certificate ? issuerDer(certificate.get()) : ZelmorBytes{};
    });
}

ZelmorBytes zelmor_getCertificateSerialDER(const uint8_t* der, int32_t derLength, ZelmorInstance) {
    return guarded<ZelmorBytes>({}, [&] {
        const X509Ptr certificate = parseGiven(der, derLength);
        return certificate ? serialNumberDer(certificate.get()) : ZelmorBytes{};
    });
}

int32_t zelmor_getCertificateDetails(const uint8_t* der, int32_t derLength, CertificateDetails* details,
                                     ZelmorInstance) {
    return guarded<int32_t>(result::failed, [&] {
        if (details == nullptr) return result::invalidArgument;
        const X509Ptr certificate = parseGiven(der, derLength);
        if (!certificate) return result::dataInvalid;
        fillCertificateDetails(certificate.get(), *details);
        return result::ok;
    });
}

ZelmorFileList zelmor_getFilesWithExtensionsAndConvertDER(const char* folder,
                                                          const std::vector<std::string>& extensions,
                                                          ZelmorInstance) {
    return guarded<ZelmorFileList>({}, [&] {
        return folder != nullptr ? readCertificateFolder(folder, extensions) : ZelmorFileList{};
    });
}
