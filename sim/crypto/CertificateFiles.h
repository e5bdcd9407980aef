// Certificate files of a folder, converted to DER.
#pragma once

#include "../store/Bytes.h"

#include <string>
#include <utility>
#include <vector>

namespace zelmor::sim {

// DER of a certificate given as DER or PEM ("-----BEGIN CERTIFICATE-----",
// the first one if several); empty when the content is neither.
Bytes certificateToDer(const Bytes& content);

// One pair (file name, DER bytes) per regular file directly in the folder whose
// name ends with one of the extensions (compared without regard to case), in
// ascending file-name order; the bytes are empty for a file that cannot be
// read or converted.
std::vector<std::pair<std::string, Bytes>> readCertificateFolder(const std::string& folder,
                                                                 const std::vector<std::string>& extensions);

}  // namespace zelmor::sim
