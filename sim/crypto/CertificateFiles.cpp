#include "CertificateFiles.h"

#include "../store/SecureFiles.h"
#include "Certificates.h"
#include "OpenSslHandles.h"

#include <algorithm>
#include <cctype>
#include <openssl/pem.h>
#include <sys/stat.h>

namespace zelmor::sim {

namespace {

constexpr std::size_t maxCertificateFileSize = 1024 * 1024;

bool endsWithIgnoringCase(const std::string& name, const std::string& suffix) {
    if (suffix.empty() || name.size() < suffix.size()) return false;
    return std::equal(suffix.rbegin(), suffix.rend(), name.rbegin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

Bytes derOf(const X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    if (length <= 0) return {};
    OpenSslMemory<unsigned char> owned(der);
    return Bytes(der, der + length);
}

}  // namespace

Bytes certificateToDer(const Bytes& content) {
    if (parseCertificate(content.data(), content.size())) return content;
    BioPtr bio(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    if (!bio) return {};
    X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    return certificate ? derOf(certificate.get()) : Bytes{};
}

std::vector<std::pair<std::string, Bytes>> readCertificateFolder(const std::string& folder,
                                                                 const std::vector<std::string>& extensions) {
    std::vector<std::string> names = listFolder(folder);
    std::sort(names.begin(), names.end());
    std::vector<std::pair<std::string, Bytes>> files;
    for (const auto& name : names) {
        const bool wanted = std::any_of(extensions.begin(), extensions.end(),
                                        [&](const std::string& extension) { return endsWithIgnoringCase(name, extension); });
        const std::string path = folder + "/" + name;
        if (!wanted || !isRegularFile(path)) continue;
        // Certificate folders often hold links to the real files, so links are followed here.
        const auto content = readWholeFile(path, maxCertificateFileSize, true);
        files.emplace_back(name, content ? certificateToDer(*content) : Bytes{});
    }
    return files;
}

}  // namespace zelmor::sim
