#include "objects/AttributeTable.h"

#include <cstring>

#include "ZelmorDSCLibrary.h"

namespace zelmor {

namespace {

using Bytes = std::vector<uint8_t>;

// CK_ULONG-typed values take sizeof(CK_ULONG) bytes in the platform's order.
Bytes ulongValue(CK_ULONG value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

Bytes boolValue(bool value) { return Bytes{value ? CK_BYTE(CK_TRUE) : CK_BYTE(CK_FALSE)}; }

using CertificatePart = ZelmorBytes (*)(const uint8_t*, int32_t, ZelmorInstance);

// A certificate field the view does not hold: a fresh device-library call.
Bytes certificatePart(const ObjectView& view, CertificatePart part) {
    if (view.kind != ObjectKind::Certificate) return Bytes();
    return part(view.value.data(), static_cast<int32_t>(view.value.size()), nullptr);
}

}  // namespace

Bytes attributeValue(const ObjectView& view, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_TYPE type) {
    const bool isPrivate = view.kind == ObjectKind::PrivateKey;
    const bool isPublic = view.kind == ObjectKind::PublicKey;
    const bool canSign = (view.usageFlags & keyUsageSign) != 0;
    const bool canDecrypt = (view.usageFlags & keyUsageDecrypt) != 0;
    switch (type) {
        case CKA_CLASS: return ulongValue(view.objectClass);
        case CKA_TOKEN: return boolValue(true);
        case CKA_PRIVATE: return boolValue(isPrivate);
        case CKA_LABEL: return Bytes(view.label.begin(), view.label.end());
        case CKA_VALUE: return view.value;
        case CKA_OBJECT_ID: return ulongValue(handle);
        case CKA_CERTIFICATE_TYPE: return ulongValue(view.certificateType);
        case CKA_ISSUER: return certificatePart(view, zelmor_getCertificateIssuer);
        case CKA_SERIAL_NUMBER: return certificatePart(view, zelmor_getCertificateSerialDER);
        case CKA_TRUSTED: return boolValue(true);
        case CKA_KEY_TYPE: return ulongValue(view.keyType);
        case CKA_SUBJECT: return certificatePart(view, zelmor_getCertificateSubject);
        case CKA_ID: return view.id;
        case CKA_SENSITIVE: return boolValue(isPrivate);
        case CKA_ENCRYPT: return boolValue(isPublic && canDecrypt);
        case CKA_DECRYPT: return boolValue(isPrivate && canDecrypt);
        case CKA_WRAP: return boolValue(false);
        case CKA_SIGN: return boolValue(isPrivate && canSign);
        case CKA_VERIFY: return boolValue(isPublic && canSign);
        case CKA_VERIFY_RECOVER: return boolValue(false);
        case CKA_DERIVE: return boolValue(false);
        case CKA_MODULUS: return view.value;
        case CKA_MODULUS_BITS: return ulongValue(view.modulusBits);
        case CKA_PUBLIC_EXPONENT: return Bytes{0x01, 0x00, 0x01};
        case CKA_EXTRACTABLE: return boolValue(!isPrivate);
        case CKA_LOCAL: return boolValue(true);
        case CKA_KEY_GEN_MECHANISM: return ulongValue(view.keyGenMechanism);
        case CKA_MODIFIABLE: return boolValue(view.kind == ObjectKind::Certificate);
        case CKA_EC_PARAMS: return view.ecParameters;
        case CKA_EC_POINT: return view.ecPoint;
        default: return Bytes();
    }
}

}  // namespace zelmor
