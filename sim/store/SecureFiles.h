// File-system primitives of the store: private modes (folders 0700, files
// 0600), no symbolic link followed at the last path component, size-capped
// reads, and crash-safe replacement of files.
#pragma once

#include "Bytes.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zelmor::sim {

// Identity and change time of a file, taken with one lstat. Every store
// rewrite replaces the file by rename, so a change shows as a new inode.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    int64_t size = 0;
    timespec modified{};

    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

std::optional<FileStamp> stampOf(const std::string& path);

// Whole content of a regular file; nullopt when it is missing, not a regular
// file, larger than maxSize or unreadable. A link at the last path component
// counts as missing unless followLinks is set.
std::optional<Bytes> readWholeFile(const std::string& path, std::size_t maxSize, bool followLinks = false);

// Replaces folder/name: writes a temporary file, flushes it, renames it over
// the old one and flushes the folder. Throws StoreError; on failure the old
// file is untouched (a temporary file may remain, named with tempFilePrefix).
void writeFileAtomically(const std::string& folder, const std::string& name, const uint8_t* data, std::size_t size);
constexpr const char* tempFilePrefix = ".tmp-";

void syncFolder(const std::string& folder);

// Creates the folder with mode 0700 unless a real folder (not a link) exists. Throws StoreError.
void makePrivateFolder(const std::string& path);
// As above for every missing folder along the path.
void makePrivateFolderTree(const std::string& path);

bool isRealFolder(const std::string& path);

// Names in the folder, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> listFolder(const std::string& path);

// Deletes the tree without following links; missing is fine. False on failure.
bool removeFolderTree(const std::string& path);

}  // namespace zelmor::sim
