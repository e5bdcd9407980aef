#include "objects/creation/CaIndex.h"

#include "objects/creation/CertificateRecord.h"
#include "utils/Utils.h"

namespace zelmor {

CaIndexes buildCaIndexes(const ZelmorFileList& files, const Utils& utils) {
    CaIndexes indexes;
    for (const auto& file : files) {
        const ZelmorBytes& der = file.second;
        if (der.empty() || der.size() > zelmorCertificateValueSize) continue;
        CertificateDetails details{};
        if (zelmor_getCertificateDetails(der.data(), static_cast<int32_t>(der.size()), &details, nullptr) != 0) {
            continue;
        }
        std::string name = utils.extractCommonName(details.subject);
        if (indexes.certificates.find(name) == indexes.certificates.end()) {
            indexes.certificates.emplace(name, makeCertificateRecord(der, name, ZelmorBytes()));
        }
        indexes.details[name] = std::move(details);
    }
    return indexes;
}

}  // namespace zelmor
