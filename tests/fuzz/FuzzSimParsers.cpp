// Fuzzer: the parsers of the virtual device library for files a user or
// another process can change. The first byte chooses: the device metadata
// text (accepted text must write back and read back the same), a certificate
// file (PEM, DER or junk; accepted DER converts to itself), or such a file in
// a CA folder.
#include <unistd.h>

#include <cstdio>
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

// The content as one file, its name chosen by the byte before it, in an otherwise empty CA folder.
void caFolder(char choice, const std::string& content) {
    static std::string folder = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/fuzz-ca-XXXXXX";
    static const bool made = mkdtemp(&folder[0]) != nullptr;
    const char* const names[] = {"/a.pem", "/b.DER", "/c.crt", "/d.cer.txt"};
    const std::string path = folder + names[static_cast<uint8_t>(choice) % 4];
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!made || file == nullptr) std::abort();
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    for (const auto& found : readCertificateFolder(folder, {".pem", ".der", ".crt", ".cer"})) readCertificate(found.second);
    ::unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 3 == 0) {
        const auto parsed = parseMetadata(content);
        const auto again = parsed ? parseMetadata(serialiseMetadata(*parsed)) : parsed;
        if (parsed && (!again || serialiseMetadata(*again) != serialiseMetadata(*parsed))) std::abort();
    } else if (data[0] % 3 == 1) {
        readCertificate(Bytes(content.begin(), content.end()));
        readCertificate(certificateToDer(Bytes(content.begin(), content.end())));
    } else {
        caFolder(content.empty() ? 0 : content[0], content.substr(content.empty() ? 0 : 1));
    }
    return 0;
}
