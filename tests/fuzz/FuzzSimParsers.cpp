// Harness: the parsers of the virtual device library that read files a user
// or another process can change: the device metadata text, certificate files
// (PEM, DER or junk) and a CA folder holding such files. The first byte
// chooses the parser; the rest is the file content.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ZelmorDSCLibrary.h"
#include "crypto/CertificateFiles.h"
#include "crypto/Certificates.h"
#include "store/MetadataText.h"

using namespace zelmor::sim;

namespace {

// A parsed file written back must read back the same.
void metadataRoundTrip(std::string_view text) {
    const auto parsed = parseMetadata(text);
    if (!parsed) return;
    const std::string written = serialiseMetadata(*parsed);
    const auto again = parseMetadata(written);
    if (!again || serialiseMetadata(*again) != written) std::abort();
}

// Everything the library derives from a certificate it accepted.
void readCertificate(const Bytes& der) {
    const X509Ptr certificate = parseCertificate(der.data(), der.size());
    if (!certificate) return;
    subjectDer(certificate.get());
    issuerDer(certificate.get());
    serialNumberDer(certificate.get());
    CertificateDetails details{};
    fillCertificateDetails(certificate.get(), details);
    // DER converts to itself.
    if (certificateToDer(der) != der) std::abort();
}

const std::string& folder() {
    static const std::string path = [] {
        const char* temporary = std::getenv("TMPDIR");
        std::string pattern = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
                              "/zelmor-fuzz-ca-XXXXXX";
        const char* made = mkdtemp(&pattern[0]);
        if (made == nullptr) std::abort();
        return std::string(made);
    }();
    return path;
}

// The content split at "\n--8<--\n" into up to four files of assorted names.
void caFolder(std::string_view content) {
    static const char* const names[] = {"a.pem", "b.DER", "c.crt", "d.cer.txt"};
    std::vector<std::string> written;
    std::size_t start = 0;
    for (std::size_t i = 0; i < 4 && start <= content.size(); ++i) {
        std::size_t end = content.find("\n--8<--\n", start);
        if (end == std::string_view::npos || i == 3) end = content.size();
        const std::string path = folder() + "/" + names[i];
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) std::abort();
        std::fwrite(content.data() + start, 1, end - start, file);
        std::fclose(file);
        written.push_back(path);
        start = end + 8;
    }
    const auto files = readCertificateFolder(folder(), {".pem", ".der", ".crt", ".cer"});
    for (const auto& file : files) readCertificate(file.second);
    for (const auto& path : written) ::unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0: metadataRoundTrip(content); break;
        case 1: {
            const Bytes bytes(content.begin(), content.end());
            readCertificate(bytes);
            readCertificate(certificateToDer(bytes));
            break;
        }
        default: caFolder(content); break;
    }
    return 0;
}
