#include "support/DiskFlush.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/FileOverlay.h"

namespace dorvex {

namespace {

FlushHook& Hook() {
    static FlushHook hook;
    return hook;
}

// True (with `error` set) when the test seam fails this flush.
bool FlushFailsByHook(const std::string& path, std::string& error) {
    const FlushHook& hook = Hook();
    if (hook && !hook(path)) {
        error = strerror(EIO);
        return true;
    }
    return false;
}

}  // namespace

void SetFlushHook(FlushHook hook) {
    Hook() = std::move(hook);
}

bool FlushFile(int fd, const std::string& path, std::string& error) {
    if (FlushFailsByHook(path, error)) {
        return false;
    }
    if (::fsync(fd) != 0) {
        error = strerror(errno);
        return false;
    }
    return true;
}

bool FlushFileSystemOf(const std::string& folder, std::string& error) {
    if (ActiveOverlay() != nullptr) {
        return true;  // a dry run writes nothing to disk
    }
    if (FlushFailsByHook(folder, error)) {
        return false;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = strerror(errno);
        return false;
    }
    const bool flushed = ::syncfs(fd) == 0;
    if (!flushed) {
        error = strerror(errno);
    }
    ::close(fd);
    return flushed;
}

}  // namespace dorvex
