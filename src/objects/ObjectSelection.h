// Choosing the objects of a search from the device's lists.
#pragma once

#include <vector>

#include "ZelmorDSCLibrary.h"
#include "objects/SearchTemplate.h"

namespace zelmor {

struct SearchSelection {
    std::vector<ZelmorCertificate> certificates;
    std::vector<ZelmorKeyPair> keyPairs;
    bool publicKeys = false;
    // The private keys of keyPairs are shown only to a logged-in user; the
    // caller applies the session state.
    bool privateKeysForUser = false;
};

// Selects by class, then matches by the first criterion given (label, value,
// ID, then modulus and EC point for keys or subject for certificates). Asks
// the device library for certificate subjects when the subject criterion
// applies.
SearchSelection selectObjects(const SearchCriteria& criteria, const std::vector<ZelmorCertificate>& certificates,
                              const std::vector<ZelmorKeyPair>& keyPairs);

}  // namespace zelmor
