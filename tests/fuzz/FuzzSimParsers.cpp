// Fuzzer: the parsers of the virtual device library for files a user or
// another process can change. The first byte chooses: the device metadata
// text (accepted text must write back and read back the same) or a
// certificate file of a CA folder (PEM, DER or junk; accepted DER converts to
// itself).
#include <cstdlib>
#include <string>

#include "ZelmorDSCLibrary.h"
#include "crypto/CertificateFiles.h"
#include "crypto/Certificates.h"
#include "store/MetadataText.h"

using namespace zelmor::sim;

namespace {

void readCertificate(const Bytes& der) {
    const X509Ptr certificate = parseCertificate(der.data(), der.size());
    if (!certificate) return;
    subjectDer(certificate.get());
    issuerDer(certificate.get());
    serialNumberDer(certificate.get());
    CertificateDetails details{};
    fillCertificateDetails(certificate.get(), details);
    if (certificateToDer(der) != der) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        const auto parsed = parseMetadata(content);
        const auto again = parsed ? parseMetadata(serialiseMetadata(*parsed)) : parsed;
        if (parsed && (!again || serialiseMetadata(*again) != serialiseMetadata(*parsed))) std::abort();
    } else {
        readCertificate(Bytes(content.begin(), content.end()));
        readCertificate(certificateToDer(Bytes(content.begin(), content.end())));
    }
    return 0;
}
