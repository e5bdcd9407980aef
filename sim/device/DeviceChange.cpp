#include "DeviceChange.h"

#include "../store/StoreError.h"

namespace zelmor::sim {

int32_t commitChange(const DeviceStore& store, const std::string& serial, PlugRequirement plug,
                     const MetadataChange& change) {
    try {
        StoreLock lock = store.lockExclusive();
        auto metadata = store.readMetadata(serial);
        if (!metadata || (plug == PlugRequirement::mustBePlugged && !metadata->plugged))
            return result::deviceNotConnected;
        std::vector<PendingFile> files;
        const ChangeOutcome outcome = change(*metadata, files);
        if (!outcome.write) return outcome.result;
        for (const auto& file : files) {
            if (file.kind == PendingFile::Kind::key)
                store.writeKeyFile(serial, file.identifier, file.content);
            else
                store.writeCertificateFile(serial, file.identifier, file.content);
        }
        ++metadata->generation;
        store.writeMetadata(*metadata);
        store.removeUnreferencedFiles(*metadata);
        return outcome.result;
    } catch (const StoreError&) {
        return result::storeFailure;
    }
}

}  // namespace zelmor::sim
