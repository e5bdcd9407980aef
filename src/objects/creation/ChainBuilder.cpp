#include "objects/creation/ChainBuilder.h"

#include <algorithm>
#include <set>
#include <string>

#include "frame/Log.h"
#include "utils/Utils.h"

namespace zelmor {

std::vector<ZelmorCertificate> buildChain(const ZelmorCertificate& leaf, const CertificateDetails& leafDetails,
                                          const CaIndexes& indexes, const Utils& utils) {
    std::vector<ZelmorCertificate> chain{leaf};
    std::set<std::string> visited;
    std::string issuer = utils.extractCommonName(leafDetails.issuer);
    while (!issuer.empty()) {
        if (!visited.insert(issuer).second) {
            logDebug("Issuer '" + issuer + "' seen twice in the chain \xE2\x80\x94 skipping chain import");
            return {};
        }
        auto certificate = indexes.certificates.find(issuer);
        auto details = indexes.details.find(issuer);
        if (certificate == indexes.certificates.end() || details == indexes.details.end()) {
            logDebug("Issuer '" + issuer + "' NOT found \xE2\x80\x94 skipping chain import");
            return {};
        }
        chain.push_back(certificate->second);
        std::string subjectName = utils.extractCommonName(details->second.subject);
        std::string issuerName = utils.extractCommonName(details->second.issuer);
        if (subjectName == issuerName) break;  // self-signed root
        issuer = issuerName;
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

}  // namespace zelmor
