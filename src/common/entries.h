// Reading a folder's entries straight from the kernel (getdents64), into a buffer that lives
// where the reader does: no heap, and a small constant per open folder, so a walk may hold
// one per level of a tree that a stranger made as deep as he liked.
#pragma once

#include <cstddef>
#include <dirent.h>

namespace tarnvel {

class FolderEntries {
public:
    // Reads the folder open as `fd` (which stays the caller's) from where it stands. The
    // buffer is filled by the kernel before anything is read from it.
    // cppcheck-suppress uninitMemberVar
    explicit FolderEntries(int fd) : fd_(fd) {}
    // The next entry, "." and ".." included, in the order the file system gives them; null at
    // the end or on a read error.
    const dirent64* next();

private:
    int fd_;
    std::size_t at_ = 0;
    std::size_t end_ = 0;
    // At least one record of the longest name a file system hands over (a FAT long name in
    // UTF-8 may pass 255 bytes) and, for ordinary names, a few dozen.
    alignas(dirent64) char records_[1024];
};

} // namespace tarnvel
