// The fixed view of one object (private key, public key or certificate)
// built from a copy of its device record, from which attributes are read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZelmorDSCLibrary.h"
#include "objects/ObjectHandles.h"
#include "pkcs11.h"

namespace zelmor {

// What a key kind code gives; a code outside 1 to 7 is RSA 2048.
struct KeyKindProperties {
    CK_KEY_TYPE keyType;
    CK_ULONG modulusBits;
    CK_MECHANISM_TYPE keyGenMechanism;
    std::vector<uint8_t> ecParameters;  // DER curve identifier, empty for RSA
};
KeyKindProperties keyKindProperties(uint32_t keyKind);

struct ObjectView {
    ObjectKind kind = ObjectKind::None;
    CK_OBJECT_CLASS objectClass = 0;
    std::string label;
    std::vector<uint8_t> id;
    std::vector<uint8_t> value;  // certificate DER or public value
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_ULONG modulusBits = 2048;
    CK_MECHANISM_TYPE keyGenMechanism = CKM_RSA_PKCS_KEY_PAIR_GEN;
    std::vector<uint8_t> ecParameters;
    std::vector<uint8_t> ecPoint;  // DER OCTET STRING of the point; empty unless given
    uint32_t usageFlags = 0;
    CK_CERTIFICATE_TYPE certificateType = CKC_X_509;
};

// kind is ObjectKind::PrivateKey or ObjectKind::PublicKey. withEcPoint (the
// standards setting) gives an EC key its point as CKA_EC_POINT.
ObjectView keyView(const ZelmorKeyPair& keyPair, ObjectKind kind, bool withEcPoint);

// CKA_EC_POINT of an EC key pair: the public value (04 || X || Y) as a DER
// OCTET STRING; empty for RSA keys and keys without a public value.
std::vector<uint8_t> ecPointOf(const ZelmorKeyPair& keyPair);

ObjectView certificateView(const ZelmorCertificate& certificate);

}  // namespace zelmor
