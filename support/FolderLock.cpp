#include "support/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace dorvex {

namespace {

// The process holding a flock on this file, from the kernel's table of locks: lines such as
// "1: FLOCK  ADVISORY  WRITE 1234 fd:01:5678 0 EOF" (device in hexadecimal, then the inode).
std::string LockHolder(const struct stat& folder) {
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, type, mode, access, pid, file;
        fields >> number >> type >> mode >> access >> pid >> file;
        if (type != "FLOCK") {
            continue;
        }
        unsigned int major = 0;
        unsigned int minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3 ||
            inode != folder.st_ino || makedev(major, minor) != folder.st_dev) {
            continue;
        }
        std::ifstream comm("/proc/" + pid + "/comm");
        std::string name;
        std::getline(comm, name);
        return "process " + pid + (name.empty() ? "" : " (" + name + ")");
    }
    return "another process";
}

}  // namespace

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_Fd = other.m_Fd;
        other.m_Fd = -1;
    }
    return *this;
}

bool FolderLock::Acquire(const std::string& folder, std::string& holder) {
    Release();
    m_Error = 0;
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        m_Error = errno;
        holder = strerror(m_Error);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        struct stat st;
        if (reason == EWOULDBLOCK && ::fstat(fd, &st) == 0) {
            holder = LockHolder(st);
        } else {
            m_Error = reason;
            holder = strerror(reason);
        }
        ::close(fd);
        return false;
    }
    m_Fd = fd;
    return true;
}

void FolderLock::Release() {
    if (m_Fd >= 0) {
        ::close(m_Fd);
        m_Fd = -1;
    }
}

}  // namespace dorvex
