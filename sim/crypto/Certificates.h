// Reading X.509 certificates: names, serial number and the parsed details.
#pragma once

#include "../store/Bytes.h"
#include "OpenSslHandles.h"

#include <string>

struct CertificateDetails;

namespace zelmor::sim {

// Parses a DER certificate that must span all given bytes; null otherwise.
X509Ptr parseCertificate(const uint8_t* der, std::size_t size);

Bytes subjectDer(const X509* certificate);
Bytes issuerDer(const X509* certificate);
// The serial number as a complete DER INTEGER (tag, length, value).
Bytes serialNumberDer(const X509* certificate);

// "CN=...,O=...,C=..." (most specific part first), UTF-8.
std::string distinguishedNameText(const X509_NAME* name);

// Fills the record: issuer and subject text; text1 the serial number in hex,
// text4 and text5 the start and end of validity, value1 the X.509 version
// (1 to 3), text6 the signature algorithm; the other fields are left empty.
void fillCertificateDetails(const X509* certificate, CertificateDetails& details);

}  // namespace zelmor::sim
