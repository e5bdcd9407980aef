// Cross-process lock over the whole store, an flock on the file ".lock" in
// the store folder. Readers share it; every change holds it exclusively.
// Each StoreLock opens its own descriptor, so it also orders threads of one
// process.
#pragma once

#include "FileDescriptor.h"

#include <string>

namespace zelmor::sim {

class StoreLock {
public:
    enum class Mode { shared, exclusive };

    // Blocks until the lock is held. Throws StoreError when the lock file
    // cannot be opened; a shared lock on a store folder that does not exist
    // holds nothing, as there is nothing to read.
    StoreLock(const std::string& storeFolder, Mode mode);
    ~StoreLock();
    StoreLock(StoreLock&&) = default;
    StoreLock& operator=(StoreLock&&) = delete;
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    FileDescriptor fd_;
};

}  // namespace zelmor::sim
