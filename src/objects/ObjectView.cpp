#include "objects/ObjectView.h"

#include "crypto/PublicKeyEncoding.h"
#include "objects/RecordView.h"

namespace zelmor {

namespace {

// DER encodings of the named-curve object identifiers.
const uint8_t curveP256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};  // 1.2.840.10045.3.1.7
const uint8_t curveP384[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};                    // 1.3.132.0.34
const uint8_t curveP521[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};                    // 1.3.132.0.35

template <std::size_t N>
KeyKindProperties ecKey(CK_ULONG bits, const uint8_t (&curve)[N]) {
    return KeyKindProperties{CKK_EC, bits, CKM_EC_KEY_PAIR_GEN, std::vector<uint8_t>(curve, curve + N)};
}

KeyKindProperties rsaKey(CK_ULONG bits) { return KeyKindProperties{CKK_RSA, bits, CKM_RSA_PKCS_KEY_PAIR_GEN, {}}; }

}  // namespace

KeyKindProperties keyKindProperties(uint32_t keyKind) {
    switch (keyKind) {
        case keyKindRsa1024: return rsaKey(1024);
        case keyKindRsa3072: return rsaKey(3072);
        case keyKindRsa4096: return rsaKey(4096);
        case keyKindEcP256: return ecKey(256, curveP256);
        case keyKindEcP384: return ecKey(384, curveP384);
        case keyKindEcP521: return ecKey(521, curveP521);
        default: return rsaKey(2048);
    }
}

std::vector<uint8_t> ecPointOf(const ZelmorKeyPair& keyPair) {
    const ByteRange point = publicValueOf(keyPair);
    if (keyKindProperties(keyPair.keyKind).keyType != CKK_EC || point.size == 0) return {};
    return encodeEcPoint(point.data, point.size);
}

ObjectView keyView(const ZelmorKeyPair& keyPair, ObjectKind kind, bool withEcPoint) {
    ObjectView view;
    view.kind = kind;
    view.objectClass = kind == ObjectKind::PrivateKey ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
    view.label = labelOf(keyPair);
    view.id = idOf(keyPair).bytes();
    view.value = publicValueOf(keyPair).bytes();
    KeyKindProperties properties = keyKindProperties(keyPair.keyKind);
    view.keyType = properties.keyType;
    view.modulusBits = properties.modulusBits;
    view.keyGenMechanism = properties.keyGenMechanism;
    view.ecParameters = properties.ecParameters;
    if (withEcPoint) view.ecPoint = ecPointOf(keyPair);
    view.usageFlags = keyPair.usageFlags;
    return view;
}

ObjectView certificateView(const ZelmorCertificate& certificate) {
    ObjectView view;
    view.kind = ObjectKind::Certificate;
    view.objectClass = CKO_CERTIFICATE;
    view.label = labelOf(certificate);
    view.id = idOf(certificate).bytes();
    view.value = valueOf(certificate).bytes();
    return view;
}

}  // namespace zelmor
