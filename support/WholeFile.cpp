#include "support/WholeFile.h"

#include <cerrno>
#include <cstring>

#include "support/FileSystem.h"

namespace dorvex {

namespace {

// The system's reason for the last failed call; false, for returning.
bool Failed(std::string& error) {
    error = strerror(errno);
    return false;
}

}  // namespace

std::string PartialPathFor(const std::string& path) {
    return path + ".dorvex-partial";
}

bool WriteWholeFile(FileSystem& files, const std::string& path, const uint8_t* data, size_t size,
                    std::string& error, Durability durability) {
    const std::string partial = PartialPathFor(path);
    // Made afresh, never through a name someone else put there: a leftover of an interrupted
    // write (a regular file) goes first; a link or a folder there fails the write.
    std::unique_ptr<FileHandle> file = files.Open(partial, OpenMode::CreateNew, error);
    if (file == nullptr && errno == EEXIST && files.IsRegularFile(partial) &&
        files.Remove(partial) == 0) {
        file = files.Open(partial, OpenMode::CreateNew, error);
    }
    if (file == nullptr) {
        return false;
    }
    const auto giveUp = [&] {
        const std::string reason = strerror(errno);
        file->Close();
        files.Remove(partial);
        error = reason;
        return false;
    };
    if (!file->Write(data, static_cast<int64_t>(size), 0)) {
        return giveUp();
    }
    // Unflushed, a power cut after the rename could leave the new name on an empty file.
    if (durability == Durability::Flushed && !file->Sync()) {
        return giveUp();
    }
    if (!file->Close()) {
        Failed(error);
        files.Remove(partial);
        return false;
    }
    // ext4 takes a rename over an existing file as a request to write the new one out first, and
    // after a pass that write queues behind the cleaned VOB data (0.1 to 0.7 s per IFO here).
    // Swapping the two names is just as atomic and asks for nothing; the old file, now under the
    // temporary name, goes. Anything but an existing regular file (a folder in the way must fail
    // as rename fails), or a file system that cannot swap: rename.
    if (durability == Durability::Cached && files.IsRegularFile(path) &&
        files.Exchange(partial, path) == 0) {
        files.Remove(partial);
        return true;
    }
    if (files.Rename(partial, path) != 0) {
        Failed(error);
        files.Remove(partial);
        return false;
    }
    return true;
}

}  // namespace dorvex
