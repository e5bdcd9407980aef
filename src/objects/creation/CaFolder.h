// Where certificate import looks for the certificates of issuing CAs.
#pragma once

#include <string>

class Utils;

namespace zelmor {

// The home folder is ZELMOR_HOME when it is set and non-empty (used without
// any test), else the first default install folder that exists, else the
// executable's folder. The CA folder is the home folder followed directly by
// "ZelmorDSC" and "Certificates", each preceded by the platform's separator.
std::string caFolderPath(const Utils& utils);

}  // namespace zelmor
