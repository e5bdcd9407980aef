#include "objects/AttributeWriter.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "device/DeviceResults.h"
#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "objects/ObjectHandles.h"
#include "sessions/SessionAccess.h"
#include "utils/SecretString.h"

namespace zelmor {

namespace {

struct KeyPairChanges {
    std::optional<std::string> label;
    std::optional<std::vector<uint8_t>> id;
};

// Entries without a value are skipped; a later entry of a type wins.
KeyPairChanges readChanges(const CK_ATTRIBUTE* attributes, CK_ULONG count) {
    KeyPairChanges changes;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& entry = attributes[i];
        if (entry.pValue == nullptr || entry.ulValueLen == 0) continue;
        logDebug("C_SetAttributeValue - attrip type : " + std::to_string(entry.type));
        const auto* bytes = static_cast<const uint8_t*>(entry.pValue);
        if (entry.type == CKA_LABEL) {
            changes.label = std::string(reinterpret_cast<const char*>(bytes), entry.ulValueLen);
        } else if (entry.type == CKA_ID) {
            changes.id = std::vector<uint8_t>(bytes, bytes + entry.ulValueLen);
        }
    }
    return changes;
}

}  // namespace

CK_RV writeAttributes(SessionRef session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    if (attributes == nullptr || count == 0) return CKR_ARGUMENTS_BAD;
    const DecodedHandle decoded = decodeObjectHandle(handle);
    if (decoded.kind != ObjectKind::PrivateKey && decoded.kind != ObjectKind::PublicKey) {
        return CKR_OBJECT_HANDLE_INVALID;
    }

    std::string deviceName;
    SecretString password;
    CK_RV rv = withSession(session, [&](SessionRecord& record) {
        deviceName = record.deviceName();
        password = moduleState().userPassword;
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;

    ZelmorKeyPair keyPair;
    if (!findKeyPair(deviceName, decoded.number, &keyPair)) {
        logError("Key pair not found in Set attribute : " + std::to_string(handle));
        return CKR_OBJECT_HANDLE_INVALID;
    }

    const KeyPairChanges changes = readChanges(attributes, count);
    if (!changes.label && !changes.id) {
        logDebug("Set attribute end");
        return CKR_OK;
    }
    // The device library takes the ID length as a signed 32-bit number.
    if (changes.id && changes.id->size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    const std::string label = changes.label ? *changes.label : std::string();
    const uint8_t* id = changes.id ? changes.id->data() : nullptr;
    const int32_t idLength = changes.id ? static_cast<int32_t>(changes.id->size()) : 0;
    const int32_t result = zelmor_updateKeyPairDetails(deviceName.c_str(), keyPair.identifier, password.c_str(),
                                                       label.c_str(), id, idLength, moduleState().instance());
    if (result != ZelmorResult::ok) {
        logError("Update key pair details failed : " + std::to_string(result));
        return objectChangeFailure(result);
    }
    logDebug("Set attribute end");
    return CKR_OK;
}

}  // namespace zelmor
