// One device as seen by one library instance: the cached snapshot, and the
// tag of the PIN last verified on it.
//
// A cached snapshot is reused while the store's change counter stays the same
// (one memory read, see ChangeCounter). When it moves, or at least once a
// second in any case, one stat of the metadata file decides: every change
// replaces that file by rename, so a change shows as a new inode. A file
// changed so recently that a later change could carry the same time stamp
// (and a reused inode) is read again on the next check, until it is old enough.
#pragma once

#include "../crypto/PinHash.h"
#include "../store/ChangeCounter.h"
#include "../store/DeviceStore.h"
#include "DeviceSnapshot.h"

#include <memory>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace zelmor::sim {

class DeviceHandle {
public:
    DeviceHandle(const DeviceStore& store, ChangeCounter& changes, std::string serial);

    const std::string& serial() const { return serial_; }

    // The current state, or null when the device is missing or damaged.
    std::shared_ptr<const DeviceSnapshot> current();

    // True when the tag is of the PIN last verified while the device's PIN hash was pinHash.
    bool isVerifiedPin(const PinTag& tag, const Bytes& pinHash) const;
    void rememberVerifiedPin(const PinTag& tag, const Bytes& pinHash);

private:
    void reload();

    const DeviceStore& store_;
    ChangeCounter& changes_;
    const std::string serial_;

    std::mutex loadMutex_;
    std::shared_ptr<const DeviceSnapshot> snapshot_;
    std::optional<FileStamp> loadedStamp_;
    bool checkAgain_ = true;
    std::optional<uint64_t> seenChangeCount_;
    int64_t lastFileCheck_ = 0;  // monotonic clock, nanoseconds

    mutable std::mutex pinMutex_;
    std::optional<PinTag> verifiedTag_;
    Bytes verifiedForHash_;
};

}  // namespace zelmor::sim
