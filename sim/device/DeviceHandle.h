// One device as seen by one library instance: the cached snapshot, and the
// tag of the PIN last verified on it.
//
// A cached snapshot is reused as long as one stat of the metadata file shows
// the same file. Every change replaces that file by rename, so another
// process's change shows as a new inode and is reloaded. A file changed so
// recently that a later change could still carry the same time stamp (and a
// reused inode) is checked again on the next use, until it is old enough.
//
// Key use (signing, decryption) may skip the stat for a short while after the
// last one: a system call costs a noticeable share of a fast signature. Changes
// made by this process are always seen at once.
#pragma once

#include "../crypto/PinHash.h"
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
    DeviceHandle(const DeviceStore& store, std::string serial);

    const std::string& serial() const { return serial_; }

    enum class Freshness {
        exact,   // reflects every change committed before the call
        recent,  // may miss another process's change of the last few milliseconds
    };

    // The current state, or null when the device is missing or damaged.
    std::shared_ptr<const DeviceSnapshot> current(Freshness freshness = Freshness::exact);

    // True when the tag is of the PIN last verified while the device's PIN hash was pinHash.
    bool isVerifiedPin(const PinTag& tag, const Bytes& pinHash) const;
    void rememberVerifiedPin(const PinTag& tag, const Bytes& pinHash);

private:
    void reload();

    const DeviceStore& store_;
    const std::string serial_;

    std::mutex loadMutex_;
    std::shared_ptr<const DeviceSnapshot> snapshot_;
    std::optional<FileStamp> loadedStamp_;
    bool checkAgain_ = true;
    int64_t lastCheckNanoseconds_ = 0;  // monotonic clock
    uint64_t lastLocalChange_ = 0;

    mutable std::mutex pinMutex_;
    std::optional<PinTag> verifiedTag_;
    Bytes verifiedForHash_;
};

}  // namespace zelmor::sim
