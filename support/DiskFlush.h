// Making written bytes survive a power cut. A flush waits for the disk's write cache to empty,
// and after a VOB pass that cache holds gigabytes of cleaned data on their way to the disk (a
// second here, minutes on a USB stick), so the engine flushes only what has to survive: the
// copies a run may have to fall back to, the files of a run that has no backup, and everything
// in a title set's folder before the last other copy of it is deleted.
#pragma once

#include <functional>
#include <string>

namespace dorvex {

enum class Durability {
    Flushed,  // on disk before it replaces anything
    Cached,   // left to the kernel's write-back, like the cleaned VOB data
};

// fsync of an open file; false with the system's reason in `error`.
bool FlushFile(int fd, const std::string& path, std::string& error);

// Everything written to the file system holding `folder` (syncfs).
bool FlushFileSystemOf(const std::string& folder, std::string& error);

// Test seam: when set, called with the path before each flush; returning false makes the flush
// fail as if the system call had failed with EIO.
using FlushHook = std::function<bool(const std::string& path)>;
void SetFlushHook(FlushHook hook);

}  // namespace dorvex
