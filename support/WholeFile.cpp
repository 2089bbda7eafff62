#include "support/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/FileOverlay.h"

namespace dorvex {

std::string PartialPathFor(const std::string& path) {
    return path + ".dorvex-partial";
}

bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size, std::string& error,
                    Durability durability) {
    if (CFileOverlay* overlay = ActiveOverlay()) {
        overlay->WriteWhole(path, data, size);
        return true;
    }
    const std::string partial = PartialPathFor(path);
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? strerror(errno) : "nothing written";
            ::close(fd);
            ::unlink(partial.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    // Unflushed, a power cut after the rename could leave the new name on an empty file.
    if (durability == Durability::Flushed && !FlushFile(fd, partial, error)) {
        ::close(fd);
        ::unlink(partial.c_str());
        return false;
    }
    if (::close(fd) != 0) {
        error = strerror(errno);
        ::unlink(partial.c_str());
        return false;
    }
    // ext4 takes a rename over an existing file as a request to write the new one out first, and
    // after a pass that write queues behind the cleaned VOB data (0.1 to 0.7 s per IFO here).
    // Swapping the two names is just as atomic and asks for nothing; the old file, now under the
    // temporary name, goes. Anything but an existing regular file (a folder in the way must fail
    // as rename fails), or a file system that cannot swap: rename.
    struct stat target;
    if (durability == Durability::Cached && ::lstat(path.c_str(), &target) == 0 &&
        S_ISREG(target.st_mode) &&
        ::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(partial.c_str());
        return true;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = strerror(errno);
        ::unlink(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace dorvex
