// Making written bytes survive a power cut. A flush waits for the disk's write cache to empty,
// and after a VOB pass that cache holds gigabytes of cleaned data on their way to the disk (a
// second here, minutes on a USB stick), so the engine flushes only what has to survive: the
// copies a run may have to fall back to, the files of a run that has no backup, and everything
// in a title set's folder before the last other copy of it is deleted.
#pragma once

#include <string>

namespace dorvex {

enum class Durability {
    Flushed,  // on disk before it replaces anything
    Cached,   // left to the kernel's write-back, like the cleaned VOB data
};

// fsync of an open file; false with the system's reason in `error`.
bool FlushFile(int fd, std::string& error);

// Everything written to the file system holding `folder` (syncfs).
bool FlushFileSystemOf(const std::string& folder, std::string& error);

// The running system's boot ID (empty when unknown). Writes the kernel had not yet put on disk
// survive a killed process, not a restart: a changed boot ID tells which of the two happened.
std::string CurrentBootId();

}  // namespace dorvex
