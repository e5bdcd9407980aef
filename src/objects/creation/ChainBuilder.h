// The chain of issuing CA certificates above a leaf certificate.
#pragma once

#include <vector>

#include "ZelmorDSCLibrary.h"
#include "objects/creation/CaIndex.h"

class Utils;

namespace zelmor {

// Follows the leaf's issuer through the CA indexes up to a self-signed root.
// Returns the records root first, the leaf last; with no issuer name the leaf
// alone. Empty when an issuer is missing from the folder or a name comes
// round again (CA certificates that issue each other).
std::vector<ZelmorCertificate> buildChain(const ZelmorCertificate& leaf, const CertificateDetails& leafDetails,
                                          const CaIndexes& indexes, const Utils& utils);

}  // namespace zelmor
