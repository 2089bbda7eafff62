#include "support/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/KernelCopy.h"
#include "support/WholeFile.h"

namespace dorvex {

int64_t ReadAtMost(int fd, uint8_t* buffer, int64_t size, int64_t offset) {
    int64_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, buffer + done, static_cast<size_t>(size - done), offset + done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

namespace {

class RealFileHandle final : public FileHandle {
  public:
    explicit RealFileHandle(int fd) : m_Fd(fd) {}
    ~RealFileHandle() override { Close(); }

    int64_t Read(uint8_t* buffer, int64_t size, int64_t offset) override {
        return ReadAtMost(m_Fd, buffer, size, offset);
    }

    // Short writes are retried; a write that takes nothing is a full disk.
    bool Write(const iovec* pieces, int count, int64_t offset) override {
        iovec rest[4];
        if (count > 4) {
            errno = EINVAL;
            return false;
        }
        std::memcpy(rest, pieces, sizeof(iovec) * static_cast<size_t>(count));
        int first = 0;
        while (first < count && rest[first].iov_len == 0) {
            ++first;
        }
        while (first < count) {
            const ssize_t n = ::pwritev(m_Fd, rest + first, count - first, offset);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                errno = ENOSPC;
                return false;
            }
            offset += n;
            size_t left = static_cast<size_t>(n);
            while (first < count && left >= rest[first].iov_len) {
                // Also passes over empty pieces, which pwritev would answer with 0.
                left -= rest[first].iov_len;
                ++first;
            }
            if (first < count) {
                rest[first].iov_base = static_cast<uint8_t*>(rest[first].iov_base) + left;
                rest[first].iov_len -= left;
            }
        }
        return true;
    }

    int64_t CopyFrom(FileHandle& source, int64_t from, int64_t to, int64_t size) override {
        auto* real = dynamic_cast<RealFileHandle*>(&source);
        if (real == nullptr) {
            errno = EXDEV;
            return -1;
        }
        const int in = real->m_Fd;
        return CopyInKernel(
            [in, this](int64_t inOffset, int64_t outOffset, int64_t wanted) -> int64_t {
                loff_t inAt = static_cast<loff_t>(inOffset);
                loff_t outAt = static_cast<loff_t>(outOffset);
                return ::copy_file_range(in, &inAt, m_Fd, &outAt, static_cast<size_t>(wanted), 0);
            },
            from, to, size);
    }

    bool Truncate(int64_t size) override {
        return ::ftruncate(m_Fd, static_cast<off_t>(size)) == 0;
    }

    bool Sync() override { return ::fsync(m_Fd) == 0; }

    bool Close() override {
        if (m_Fd < 0) {
            return true;
        }
        const int fd = m_Fd;
        m_Fd = -1;
        return ::close(fd) == 0;
    }

    void ExpectSequentialReads() override { posix_fadvise(m_Fd, 0, 0, POSIX_FADV_SEQUENTIAL); }
    bool ReadsFromAnyThread() const override { return true; }
    void StartWriteBack(int64_t offset, int64_t size) override {
        ::sync_file_range(m_Fd, static_cast<off64_t>(offset), static_cast<off64_t>(size),
                          SYNC_FILE_RANGE_WRITE);
    }

  private:
    int m_Fd;
};

}  // namespace

std::unique_ptr<FileHandle> RealFileSystem::Open(const std::string& path, OpenMode mode,
                                                 std::string& error) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::Update:
            flags |= O_RDWR;
            break;
        case OpenMode::Create:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        case OpenMode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
            break;
    }
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        error = strerror(errno);
        return nullptr;
    }
    return std::make_unique<RealFileHandle>(fd);
}

bool RealFileSystem::Exists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

int64_t RealFileSystem::SizeBytes(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return 0;
    }
    return static_cast<int64_t>(st.st_size);
}

FileKind RealFileSystem::KindOf(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        return FileKind::Missing;
    }
    if (S_ISREG(st.st_mode)) {
        return FileKind::Regular;
    }
    if (S_ISDIR(st.st_mode)) {
        return FileKind::Folder;
    }
    return S_ISLNK(st.st_mode) ? FileKind::Link : FileKind::Other;
}

FileIdentity RealFileSystem::IdentityOf(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        return {};
    }
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::vector<std::string> RealFileSystem::ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        // Most file systems say what an entry is; only the others cost a stat per entry.
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            regular = ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(st.st_mode);
        }
        if (regular) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return names;
}

int RealFileSystem::Rename(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str());
}

int RealFileSystem::Exchange(const std::string& first, const std::string& second) {
    return ::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE);
}

int RealFileSystem::Remove(const std::string& path) {
    return std::remove(path.c_str());
}

int RealFileSystem::MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777);
}

bool RealFileSystem::ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                               std::string& error) {
    std::unique_ptr<FileHandle> file = Open(path, OpenMode::Read, error);
    if (file == nullptr) {
        return false;
    }
    data.assign(static_cast<size_t>(SizeBytes(path)), 0);
    const int64_t got = file->Read(data.data(), static_cast<int64_t>(data.size()), 0);
    if (got < 0) {
        error = strerror(errno);
        return false;
    }
    data.resize(static_cast<size_t>(got));
    return true;
}

bool RealFileSystem::WriteWhole(const std::string& path, const uint8_t* data, size_t size,
                                std::string& error, Durability durability) {
    return WriteWholeFile(*this, path, data, size, error, durability);
}

bool RealFileSystem::MayChange(const std::string& path, std::string& error) {
    if (access(path.c_str(), W_OK) == 0) {
        return true;
    }
    error = strerror(errno);
    return false;
}

bool RealFileSystem::FlushFolder(const std::string& folder, std::string& error) {
    return FlushFileSystemOf(folder, error);
}

FileSystem& TheRealFileSystem() {
    static RealFileSystem disk;
    return disk;
}

}  // namespace dorvex
