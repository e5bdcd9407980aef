// Store-wide change counter shared by all processes: the 8-byte file
// ".changes" in the store folder, mapped into memory. Every committed change
// raises it, so a reader learns of another process's change with one memory
// read instead of a system call.
//
// The counter is a hint: a writer killed between its rename and the raise
// leaves it unchanged, and files edited by hand never raise it. Readers
// therefore still look at the files themselves now and then (DeviceHandle).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zelmor::sim {

class ChangeCounter {
public:
    explicit ChangeCounter(std::string storeFolder);
    ~ChangeCounter();
    ChangeCounter(const ChangeCounter&) = delete;
    ChangeCounter& operator=(const ChangeCounter&) = delete;

    // The current value; nullopt while the counter file is not mapped.
    std::optional<uint64_t> value() const;

    // Maps the counter file, or maps it again if it was replaced. Costs system calls.
    void refresh();

    // Raises the counter of a store; the caller holds the store's exclusive lock.
    // Best effort: a failure only delays other processes' noticing.
    static void raise(const std::string& storeFolder);

private:
    const std::string path_;
    std::mutex mutex_;
    std::atomic<const uint64_t*> mapped_{nullptr};
    ino_t mappedInode_ = 0;
    std::vector<void*> retiredMappings_;  // a reader may still hold an older mapping
};

}  // namespace zelmor::sim
