#include "KeyPairOperations.h"

#include "DeviceChange.h"
#include "ObjectNumbering.h"
#include "PasswordCheck.h"

#include <algorithm>

namespace zelmor::sim {

namespace {

bool fitsObjectLimits(const std::string& label, const Bytes& id) {
    return label.size() <= limits::maxObjectLabelLength && id.size() <= limits::maxObjectIdLength;
}

CreatedKeyPair storeKeyPair(const DeviceStore& store, const PluggedDevice& device, const PrivateKey& key,
                            const KeyPairRequest& request) {
    CreatedKeyPair created;
    const Bytes pkcs8 = key.toPkcs8();
    if (pkcs8.empty()) return created;
    created.result = commitChange(
        store, device.handle->serial(), PlugRequirement::mustBePlugged,
        [&](DeviceMetadata& metadata, std::vector<PendingFile>& files) -> ChangeOutcome {
            if (metadata.keyPairs.size() >= metadata.keyPairCapacity) return {result::deviceMemoryFull, false};
            KeyPairEntry entry;
            entry.number = lowestFreeNumber(metadata.keyPairs);
            entry.identifier = newIdentifier(metadata.keyPairs);
            entry.kind = key.kind();
            entry.usage = request.usage;
            entry.flag = request.flag;
            entry.id = request.id;
            entry.label = request.label;
            files.push_back({PendingFile::Kind::key, entry.identifier, pkcs8});
            metadata.keyPairs.push_back(entry);
            created.entry = entry;
            return {result::ok, true};
        });
    if (created.result == result::ok) created.publicValue = key.publicValue();
    return created;
}

// Password and capacity checks shared by generation and import.
int32_t checkBeforeCreating(const DeviceStore& store, const PluggedDevice& device, const char* password,
                            const KeyPairRequest& request) {
    if (!fitsObjectLimits(request.label, request.id) || request.usage > 3) return result::invalidArgument;
    const PasswordOutcome verified = checkPassword(store, device, password);
    if (verified.result != result::ok) return verified.result;
    const DeviceMetadata& metadata = device.snapshot->metadata;
    if (metadata.keyPairs.size() >= metadata.keyPairCapacity) return result::deviceMemoryFull;
    return result::ok;
}

}  // namespace

CreatedKeyPair generateKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                               const KeyPairRequest& request) {
    CreatedKeyPair created;
    if (request.kind < 1 || request.kind > 7) {
        created.result = result::invalidArgument;
        return created;
    }
    created.result = checkBeforeCreating(store, device, password, request);
    if (created.result != result::ok) return created;
    const auto key = PrivateKey::generate(request.kind);
    if (!key) {
        created.result = result::failed;
        return created;
    }
    return storeKeyPair(store, device, *key, request);
}

CreatedKeyPair importKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                             std::shared_ptr<const PrivateKey> key, KeyPairRequest request) {
    CreatedKeyPair created;
    if (!key) {
        created.result = result::dataInvalid;
        return created;
    }
    request.kind = key->kind();
    created.result = checkBeforeCreating(store, device, password, request);
    if (created.result != result::ok) return created;
    return storeKeyPair(store, device, *key, request);
}

int32_t updateKeyPairDetails(const DeviceStore& store, const PluggedDevice& device, const char* password,
                             const uint8_t* identifier, const std::optional<std::string>& label,
                             const std::optional<Bytes>& id) {
    if (identifier == nullptr || !fitsObjectLimits(label.value_or(""), id.value_or(Bytes{})))
        return result::invalidArgument;
    const PasswordOutcome verified = checkPassword(store, device, password);
    if (verified.result != result::ok) return verified.result;
    return commitChange(store, device.handle->serial(), PlugRequirement::mustBePlugged,
                        [&](DeviceMetadata& metadata, std::vector<PendingFile>&) -> ChangeOutcome {
                            for (auto& entry : metadata.keyPairs) {
                                if (std::equal(entry.identifier.begin(), entry.identifier.end(), identifier)) {
                                    if (label) entry.label = *label;
                                    if (id) entry.id = *id;
                                    return {result::ok, true};
                                }
                            }
                            return {result::objectNotFound, false};
                        });
}

int32_t deleteKeyPair(const DeviceStore& store, const PluggedDevice& device, const char* password,
                      const uint8_t* identifier) {
    if (identifier == nullptr) return result::invalidArgument;
    const PasswordOutcome verified = checkPassword(store, device, password);
    if (verified.result != result::ok) return verified.result;
    return commitChange(store, device.handle->serial(), PlugRequirement::mustBePlugged,
                        [&](DeviceMetadata& metadata, std::vector<PendingFile>&) -> ChangeOutcome {
                            auto& entries = metadata.keyPairs;
                            for (auto it = entries.begin(); it != entries.end(); ++it) {
                                if (std::equal(it->identifier.begin(), it->identifier.end(), identifier)) {
                                    entries.erase(it);
                                    return {result::ok, true};
                                }
                            }
                            return {result::objectNotFound, false};
                        });
}

}  // namespace zelmor::sim
