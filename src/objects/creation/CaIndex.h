// The two indexes of the CA folder's certificates, keyed by subject common
// name (byte-wise, case-sensitive). They live for one import call.
#pragma once

#include <map>
#include <string>

#include "ZelmorDSCLibrary.h"

class Utils;

namespace zelmor {

struct CaIndexes {
    // Record of the first file enumerated with that name.
    std::map<std::string, ZelmorCertificate> certificates;
    // Details of the last file enumerated with that name.
    std::map<std::string, CertificateDetails> details;
};

// Indexes the files the folder reader returned, in its order. Files that are
// empty, longer than a certificate record's value field, or that the device
// library cannot parse are skipped.
CaIndexes buildCaIndexes(const ZelmorFileList& files, const Utils& utils);

}  // namespace zelmor
