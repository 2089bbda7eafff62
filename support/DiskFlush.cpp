#include "support/DiskFlush.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace dorvex {

bool FlushFile(int fd, std::string& error) {
    if (::fsync(fd) != 0) {
        error = strerror(errno);
        return false;
    }
    return true;
}

bool FlushFileSystemOf(const std::string& folder, std::string& error) {
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

std::string CurrentBootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

}  // namespace dorvex
