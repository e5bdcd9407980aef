// Building the ZelmorCertificate records that certificate import hands to
// the device library.
#pragma once

#include <string>

#include "ZelmorDSCLibrary.h"

namespace zelmor {

// A zero-filled record holding der as its value, labelled label (copied as a
// C string bounded at 128 bytes: a label of 128 bytes or more has no
// terminator, an embedded NUL ends it) and carrying the first 128 bytes of
// id. der must not be longer than the value field.
ZelmorCertificate makeCertificateRecord(const ZelmorBytes& der, const std::string& label, const ZelmorBytes& id);

}  // namespace zelmor
