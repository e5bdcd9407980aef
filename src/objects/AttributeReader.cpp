#include "objects/AttributeReader.h"

#include <cstring>
#include <string>

#include "frame/Log.h"
#include "frame/StandardsMode.h"
#include "objects/AttributeTable.h"
#include "objects/ObjectHandles.h"
#include "objects/ObjectView.h"
#include "objects/RecordView.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

namespace {

CK_RV sessionDeviceName(SessionRef session, std::string* deviceName) {
    return withSession(session, [&](SessionRecord& record) {
        *deviceName = record.deviceName();
        return CKR_OK;
    });
}

// The view of the object named handle, or CKR_OBJECT_HANDLE_INVALID.
CK_RV viewOfObject(const std::string& deviceName, CK_OBJECT_HANDLE handle, ObjectView* view) {
    const DecodedHandle decoded = decodeObjectHandle(handle);
    const std::string handleText = std::to_string(handle);
    switch (decoded.kind) {
        case ObjectKind::Certificate: {
            ZelmorCertificate certificate;
            if (!findCertificate(deviceName, decoded.number, &certificate)) {
                logError("Certificate not found in get attribute : " + handleText);
                return CKR_OBJECT_HANDLE_INVALID;
            }
            *view = certificateView(certificate);
            return CKR_OK;
        }
        case ObjectKind::PrivateKey:
        case ObjectKind::PublicKey: {
            ZelmorKeyPair keyPair;
            if (!findKeyPair(deviceName, decoded.number, &keyPair)) {
                logError("Key pair not found in get attribute : " + handleText);
                return CKR_OBJECT_HANDLE_INVALID;
            }
            *view = keyView(keyPair, decoded.kind, standardsMode());
            return CKR_OK;
        }
        case ObjectKind::None: break;
    }
    logError("Input hobject not valid in get attribute : " + handleText);
    return CKR_OBJECT_HANDLE_INVALID;
}

}  // namespace

CK_RV readAttributes(SessionRef session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    if (attributes == nullptr) {
        logError("C_GetAttributeValue template is null");
        return CKR_ARGUMENTS_BAD;
    }
    logDebug("C_GetAttributeValue count : " + std::to_string(count));
    if (count == 0) return CKR_ARGUMENTS_BAD;

    std::string deviceName;
    CK_RV rv = sessionDeviceName(session, &deviceName);
    if (rv != CKR_OK) return rv;
    ObjectView view;
    rv = viewOfObject(deviceName, handle, &view);
    if (rv != CKR_OK) return rv;

    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& entry = attributes[i];
        logDebug("C_GetAttributeValue type : " + std::to_string(entry.type));
        const std::vector<uint8_t> value = attributeValue(view, handle, entry.type);
        if (entry.pValue != nullptr) {
            // A short buffer ends the call here; its length stays as given.
            if (entry.ulValueLen < value.size()) return CKR_BUFFER_TOO_SMALL;
            if (!value.empty()) std::memcpy(entry.pValue, value.data(), value.size());
        }
        entry.ulValueLen = static_cast<CK_ULONG>(value.size());
        logDebug("C_GetAttributeValue length : " + std::to_string(value.size()));
    }
    return CKR_OK;
}

CK_RV readObjectSize(SessionRef session, CK_OBJECT_HANDLE handle, CK_ULONG_PTR size) {
    if (size == nullptr) return CKR_ARGUMENTS_BAD;
    std::string deviceName;
    CK_RV rv = sessionDeviceName(session, &deviceName);
    if (rv != CKR_OK) return rv;

    const std::string handleText = std::to_string(handle);
    const DecodedHandle decoded = decodeObjectHandle(handle);
    if (decoded.kind == ObjectKind::PrivateKey || decoded.kind == ObjectKind::PublicKey) {
        const bool isPrivate = decoded.kind == ObjectKind::PrivateKey;
        ZelmorKeyPair keyPair;
        if (!findKeyPair(deviceName, decoded.number, &keyPair)) {
            logError(std::string(isPrivate ? "Private" : "Public") + " key not found in get object size : " +
                     handleText);
            return CKR_OBJECT_HANDLE_INVALID;
        }
        const std::size_t publicLength = publicValueOf(keyPair).size;
        *size = static_cast<CK_ULONG>(isPrivate ? 2 * publicLength : publicLength);
        return CKR_OK;
    }

    // Certificates, and every handle below the key range, whose number wraps
    // round 2^32. A value above 32 bits names nothing.
    ZelmorCertificate certificate;
    const bool named = handle <= CK_ULONG(0xFFFFFFFFu);
    const uint32_t number = static_cast<uint32_t>(handle) - certificateHandleBase;
    if (!named || !findCertificate(deviceName, number, &certificate)) {
        logError("Certificate not found in get object size : " + handleText);
        return CKR_OBJECT_HANDLE_INVALID;
    }
    *size = static_cast<CK_ULONG>(valueOf(certificate).size);
    return CKR_OK;
}

}  // namespace zelmor
