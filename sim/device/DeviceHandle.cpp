#include "DeviceHandle.h"

#include "../store/StoreError.h"
#include "DeviceLoader.h"

#include <ctime>

namespace zelmor::sim {

namespace {

// Longer than the coarsest file time-stamp granularity in use.
constexpr int64_t recentChangeNanoseconds = 100'000'000;

// How long a snapshot is trusted on the change counter alone.
constexpr int64_t fileCheckIntervalNanoseconds = 1'000'000'000;

int64_t monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool changedRecently(const FileStamp& stamp) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t age = (static_cast<int64_t>(now.tv_sec) - stamp.modified.tv_sec) * 1'000'000'000 +
                        (now.tv_nsec - stamp.modified.tv_nsec);
    return age < recentChangeNanoseconds;
}

}  // namespace

DeviceHandle::DeviceHandle(const DeviceStore& store, ChangeCounter& changes, std::string serial)
    : store_(store), changes_(changes), serial_(std::move(serial)) {}

std::shared_ptr<const DeviceSnapshot> DeviceHandle::current() {
    std::lock_guard<std::mutex> guard(loadMutex_);
    const int64_t now = monotonicNanoseconds();
    const bool fileCheckDue = now - lastFileCheck_ >= fileCheckIntervalNanoseconds;
    if (snapshot_ && !fileCheckDue && seenChangeCount_ && changes_.value() == seenChangeCount_) return snapshot_;

    if (fileCheckDue || !seenChangeCount_) changes_.refresh();
    // Read before the files: a change landing during the reload moves the counter again.
    seenChangeCount_ = changes_.value();
    lastFileCheck_ = now;
    const auto stamp = store_.metadataStamp(serial_);
    if (!stamp) {
        snapshot_.reset();
        loadedStamp_.reset();
        return nullptr;
    }
    if (checkAgain_ || stamp != loadedStamp_) reload();
    return snapshot_;
}

void DeviceHandle::reload() {
    try {
        // Under the shared lock no change can land between the stat and the reads.
        StoreLock lock = store_.lockShared();
        loadedStamp_ = store_.metadataStamp(serial_);
        snapshot_ = loadedStamp_ ? loadDevice(store_, serial_, snapshot_.get()) : nullptr;
        checkAgain_ = !loadedStamp_ || changedRecently(*loadedStamp_);
    } catch (const StoreError&) {
        // The store cannot be locked (taken away, or no longer ours): no device to offer.
        snapshot_.reset();
        loadedStamp_.reset();
        checkAgain_ = true;
    }
}

bool DeviceHandle::isVerifiedPin(const PinTag& tag, const Bytes& pinHash) const {
    std::lock_guard<std::mutex> guard(pinMutex_);
    return verifiedTag_ && verifiedForHash_ == pinHash && constantTimeEqual(verifiedTag_->data(), tag.data(), tag.size());
}

void DeviceHandle::rememberVerifiedPin(const PinTag& tag, const Bytes& pinHash) {
    std::lock_guard<std::mutex> guard(pinMutex_);
    verifiedTag_ = tag;
    verifiedForHash_ = pinHash;
}

}  // namespace zelmor::sim
