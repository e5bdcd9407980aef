// Key-pair list, generation, import, relabelling and deletion.
#include "../crypto/RsaKeyRebuild.h"
#include "../device/KeyPairOperations.h"
#include "../device/RecordConversion.h"
#include "ApiGuard.h"
#include "SimInstance.h"

#include <cstring>

using namespace zelmor::sim;

namespace {
// The snapshot behind each thread's latest list: the list stays valid until
// that thread asks again, however the device changes meanwhile.
thread_local std::shared_ptr<const DeviceSnapshot> latestKeyPairListOwner;
const std::vector<ZelmorKeyPair> noKeyPairs;

constexpr uint32_t importedKeyUsage = keyUsageSign | keyUsageDecrypt;
}  // namespace

const std::vector<ZelmorKeyPair>& zelmor_getKeyPairList(const char* deviceName, ZelmorInstance instance) {
    latestKeyPairListOwner = guarded<std::shared_ptr<const DeviceSnapshot>>(
        nullptr, [&] { return pluggedDevice(instance, deviceName).snapshot; });
    return latestKeyPairListOwner ? latestKeyPairListOwner->keyPairRecords : noKeyPairs;
}

int32_t zelmor_generateKeyPair(const char* deviceName, const char* password, ZelmorKeyPair* keyPair,
                               ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        if (keyPair == nullptr) return result::invalidArgument;
        const auto id = idBytes(keyPair->id, keyPair->idLength);
        if (!id) return result::invalidArgument;
        KeyPairRequest request;
        request.kind = keyPair->keyKind;
        request.label = fixedFieldText(keyPair->label, zelmorLabelSize);
        request.id = *id;
        request.usage = keyPair->usageFlags;
        request.flag = keyPair->keyFlag;
        const CreatedKeyPair created =
            generateKeyPair(SimInstance::from(instance)->store(), device, password, request);
        if (created.result == result::ok) *keyPair = toKeyPairRecord(created.entry, created.publicValue);
        return created.result;
    });
}

int32_t zelmor_importPfx(const char* deviceName, const char* password, ImportPFXDetails* details,
                         ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        if (details == nullptr) return result::invalidArgument;
        EvpPkeyPtr rebuilt =
            rebuildRsaKey(details->modulus, details->privateExponent, details->prime1, details->publicExponent);
        if (!rebuilt) return result::dataInvalid;
        KeyPairRequest request;
        request.label = details->label;
        request.id = details->id;
        request.usage = importedKeyUsage;
        const CreatedKeyPair created = importKeyPair(SimInstance::from(instance)->store(), device, password,
                                                     PrivateKey::fromKey(std::move(rebuilt)), request);
        if (created.result == result::ok)
            details->keyPairIdentifier.assign(created.entry.identifier.begin(), created.entry.identifier.end());
        return created.result;
    });
}

int32_t zelmor_updateKeyPairDetails(const char* deviceName, const uint8_t* keyPairIdentifier, const char* password,
                                    const char* label, const uint8_t* id, int32_t idLength, ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        // Empty label text and an ID length of 0 mean "keep the current value".
        std::optional<std::string> newLabel;
        if (label != nullptr && *label != '\0') newLabel = std::string(label, ::strnlen(label, zelmorLabelSize + 1));
        std::optional<Bytes> newId;
        if (idLength != 0) {
            newId = idBytes(id, idLength);
            if (!newId) return result::invalidArgument;
        }
        return updateKeyPairDetails(SimInstance::from(instance)->store(), device, password, keyPairIdentifier,
                                    newLabel, newId);
    });
}

int32_t zelmor_deleteKeyPair(const char* deviceName, const uint8_t* keyPairIdentifier, const char* password,
                             bool /*keyFlag*/, ZelmorInstance instance) {
    return guarded<int32_t>(result::failed, [&] {
        const PluggedDevice device = pluggedDevice(instance, deviceName);
        if (!device) return result::deviceNotConnected;
        return deleteKeyPair(SimInstance::from(instance)->store(), device, password, keyPairIdentifier);
    });
}
