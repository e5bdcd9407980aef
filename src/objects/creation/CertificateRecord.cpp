#include "objects/creation/CertificateRecord.h"

#include <algorithm>
#include <cstring>

namespace zelmor {

ZelmorCertificate makeCertificateRecord(const ZelmorBytes& der, const std::string& label, const ZelmorBytes& id) {
    ZelmorCertificate record;
    std::memset(&record, 0, sizeof record);
    // The clamp keeps the copy inside the value field; callers refuse or skip
    // longer certificates before they get here.
    std::size_t valueLength = std::min(der.size(), zelmorCertificateValueSize);
    std::copy_n(der.data(), valueLength, record.value);
    record.valueLength = static_cast<int32_t>(valueLength);
    std::size_t idLength = std::min(id.size(), zelmorIdSize);
    std::copy_n(id.data(), idLength, record.id);
    record.idLength = static_cast<int32_t>(idLength);
    std::size_t labelLength = std::min(std::strlen(label.c_str()), zelmorLabelSize);
    std::memcpy(record.label, label.data(), labelLength);
    return record;
}

}  // namespace zelmor
