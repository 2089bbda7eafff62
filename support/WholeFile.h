// Writing a file whole: the bytes go to a temporary file next to the target, which replaces the
// target by a rename only once every byte is written (and, Flushed, on disk). A crash, a kill or
// a full disk at any moment leaves either the old file or the new one, never a mixture or a
// stub; so does a power cut, for a Flushed write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/DiskFlush.h"

namespace dorvex {

class FileSystem;

// The temporary name a whole-file write uses for path (same folder, so the rename is atomic).
std::string PartialPathFor(const std::string& path);

// Through the calls of `files`. False on failure, with the system's reason in `error`; the
// target is then untouched and the temporary file removed.
bool WriteWholeFile(FileSystem& files, const std::string& path, const uint8_t* data, size_t size,
                    std::string& error, Durability durability = Durability::Flushed);

}  // namespace dorvex
