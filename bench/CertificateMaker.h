// Self-signed X.509 certificates made with libcrypto, to fill a token with
// realistic certificate objects.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct MadeCertificate {
    std::vector<unsigned char> der;         // the whole certificate
    std::vector<unsigned char> subjectDer;  // its subject name, DER
};

// `count` certificates with subjects "CN=<prefix> NNN,O=Zelmor Bench" and
// serials 1…count, all signed by one fresh P-256 key.
std::vector<MadeCertificate> makeCertificates(unsigned count, const std::string& prefix);

} // namespace bench
