#include "Certificates.h"

#include "ZelmorDSCLibrary.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

namespace zelmor::sim {

namespace {

template <typename T, int (*Encode)(const T*, unsigned char**)>
Bytes encodeDer(const T* object) {
    if (object == nullptr) return {};
    unsigned char* der = nullptr;
    const int length = Encode(object, &der);
    if (length <= 0) return {};
    OpenSslMemory<unsigned char> owned(der);
    return Bytes(der, der + length);
}

int encodeName(const X509_NAME* name, unsigned char** out) { return i2d_X509_NAME(name, out); }
int encodeInteger(const ASN1_INTEGER* value, unsigned char** out) { return i2d_ASN1_INTEGER(value, out); }

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string timeText(const ASN1_TIME* time) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || time == nullptr || ASN1_TIME_print(bio.get(), time) != 1) return {};
    return bioText(bio.get());
}

}  // namespace

X509Ptr parseCertificate(const uint8_t* der, std::size_t size) {
    if (der == nullptr || size == 0 || size > 1024 * 1024) return nullptr;
    const unsigned char* cursor = der;
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(size)));
    if (!certificate || cursor != der + size) return nullptr;
    return certificate;
}

Bytes subjectDer(const X509* certificate) {
    return encodeDer<X509_NAME, encodeName>(X509_get_subject_name(certificate));
}

Bytes issuerDer(const X509* certificate) {
    return encodeDer<X509_NAME, encodeName>(X509_get_issuer_name(certificate));
}

Bytes serialNumberDer(const X509* certificate) {
    return encodeDer<ASN1_INTEGER, encodeInteger>(X509_get0_serialNumber(certificate));
}

std::string distinguishedNameText(const X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    // RFC 2253 order and separators, keeping UTF-8 text as it is.
    const unsigned long flags = XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB;
    if (!bio || name == nullptr || X509_NAME_print_ex(bio.get(), name, 0, flags) < 0) return {};
    return bioText(bio.get());
}

void fillCertificateDetails(const X509* certificate, CertificateDetails& details) {
    details.issuer = distinguishedNameText(X509_get_issuer_name(certificate));
    details.subject = distinguishedNameText(X509_get_subject_name(certificate));
    BignumPtr serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr));
    if (serial) {
        OpenSslMemory<char> hex(BN_bn2hex(serial.get()));
        if (hex) details.text1 = hex.get();
    }
    details.text4 = timeText(X509_get0_notBefore(certificate));
    details.text5 = timeText(X509_get0_notAfter(certificate));
    details.value1 = static_cast<int32_t>(X509_get_version(certificate) + 1);
    const char* algorithm = OBJ_nid2ln(X509_get_signature_nid(certificate));
    details.text6 = algorithm != nullptr ? algorithm : "";
}

}  // namespace zelmor::sim
