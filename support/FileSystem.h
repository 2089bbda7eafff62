// Every file the program reads, writes, renames or removes goes through a FileSystem handed to
// it, so that where the bytes go is the caller's choice: the disk (RealFileSystem), the memory of
// a dry run that only reads the disk (the plan's overlay), or a disk that fails on purpose (the
// fault tests). The buffering and the DVD rules stay above this line; below it is only what a
// system call does.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/DiskFlush.h"

namespace dorvex {

enum class OpenMode {
    Read,    // existing file, read only
    Update,  // existing file, read and write
    Create,  // created empty (or emptied), read and write
    // Created, read and write, only where nothing is: not over a file, not through a link.
    CreateNew,
};

// What a path names, the path itself (a link is not followed).
enum class FileKind { Missing, Regular, Folder, Link, Other };

// Which file a name stands for, the name itself (a link is not followed): the same identity is
// the same file, whatever it is called now. Zero where a file system cannot tell.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;

    bool Known() const { return device != 0 || inode != 0; }
    bool operator==(const FileIdentity&) const = default;
};

// The operations a fault-injecting file system can fail, with the file and the sector they
// concern (0 where no sector applies). Create is an Open that makes the file; Access asks
// whether a file or folder may be changed.
enum class FileOp { Open, Create, Read, Write, Truncate, Sync, Close, Rename, Remove, Access };

// One open file: positioned reads and writes, nothing buffered. Every call that fails sets
// errno and returns -1 or false.
class FileHandle {
  public:
    virtual ~FileHandle() = default;

    // Reads as much of [offset, offset + size) as the file holds: the bytes read.
    virtual int64_t Read(uint8_t* buffer, int64_t size, int64_t offset) = 0;
    // Writes the pieces (at most 4) one after another from offset, all of them or fail.
    virtual bool Write(const iovec* pieces, int count, int64_t offset) = 0;
    // Copies size bytes at `from` of source to `to` here inside the kernel: the bytes copied
    // (fewer at the source's end or where the file system stops short, down to none), or -1
    // with errno EXDEV when the two files cannot be copied between without passing through
    // memory (the caller then does that, for the rest).
    virtual int64_t CopyFrom(FileHandle& source, int64_t from, int64_t to, int64_t size) = 0;
    virtual bool Truncate(int64_t size) = 0;
    virtual bool Sync() = 0;
    virtual bool Close() = 0;
    // Reading hint: the file will be read from start to end.
    virtual void ExpectSequentialReads() {}
    // Whether Read may be called from another thread while the owner makes its other calls
    // (the disk: yes; a file system that must see its calls one at a time: no).
    virtual bool ReadsFromAnyThread() const { return false; }
    // Writing hint: what was written in [offset, offset + size) may go to the disk now, without
    // waiting for it. Nothing is promised about when it is there.
    virtual void StartWriteBack(int64_t /*offset*/, int64_t /*size*/) {}

    bool Write(const uint8_t* data, int64_t size, int64_t offset) {
        iovec piece{const_cast<uint8_t*>(data), static_cast<size_t>(size)};
        return Write(&piece, 1, offset);
    }
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Null when it cannot be opened, with the system's reason in `error`.
    virtual std::unique_ptr<FileHandle> Open(const std::string& path, OpenMode mode,
                                             std::string& error) = 0;

    // An empty path stands for an absent argument: it does not exist.
    virtual bool Exists(const std::string& path) = 0;
    // 0 for a missing file.
    virtual int64_t SizeBytes(const std::string& path) = 0;
    virtual FileKind KindOf(const std::string& path) = 0;
    // Unknown (zero) for a missing file or where the file system cannot tell.
    virtual FileIdentity IdentityOf(const std::string& /*path*/) { return {}; }
    // The names of the regular files in a folder (not links, not folders), in no set order.
    virtual std::vector<std::string> ListFiles(const std::string& folder) = 0;

    // As rename(2), remove(3) and mkdir(2): 0, or -1 with errno set.
    virtual int Rename(const std::string& from, const std::string& to) = 0;
    // Swaps the two names atomically (renameat2 RENAME_EXCHANGE); both must exist.
    virtual int Exchange(const std::string& first, const std::string& second) = 0;
    virtual int Remove(const std::string& path) = 0;
    virtual int MakeFolder(const std::string& path) = 0;

    // A file read or written whole (IFO and BUP files). A whole write replaces the target only
    // once every byte is written (and, Flushed, on disk): a kill, a crash or a full disk at any
    // moment leaves the old file or the new one. False with the reason in `error`.
    virtual bool ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                           std::string& error) = 0;
    virtual bool WriteWhole(const std::string& path, const uint8_t* data, size_t size,
                            std::string& error, Durability durability) = 0;

    // Everything written to the file system holding `folder` reaches the disk.
    virtual bool FlushFolder(const std::string& folder, std::string& error) = 0;

    // Whether this process may write the file at path, or add, rename and remove names in the
    // folder at path (access(2) W_OK), so that a change of many files can be refused before the
    // first one; false with the reason. A file system that cannot tell says yes, and the change
    // itself then fails and says why.
    virtual bool MayChange(const std::string& /*path*/, std::string& /*error*/) { return true; }

    int32_t SizeKB(const std::string& path) { return static_cast<int32_t>(SizeBytes(path) / 1024); }
    // A folder itself, not a link to one; a regular file itself.
    bool IsFolder(const std::string& path) { return KindOf(path) == FileKind::Folder; }
    bool IsRegularFile(const std::string& path) { return KindOf(path) == FileKind::Regular; }
    bool IsEmptyOrMissing(const std::string& path) { return SizeBytes(path) == 0; }
};

// The disk. One object serves the whole program; it holds no state.
class RealFileSystem final : public FileSystem {
  public:
    std::unique_ptr<FileHandle> Open(const std::string& path, OpenMode mode,
                                     std::string& error) override;
    bool Exists(const std::string& path) override;
    int64_t SizeBytes(const std::string& path) override;
    FileKind KindOf(const std::string& path) override;
    FileIdentity IdentityOf(const std::string& path) override;
    std::vector<std::string> ListFiles(const std::string& folder) override;
    int Rename(const std::string& from, const std::string& to) override;
    int Exchange(const std::string& first, const std::string& second) override;
    int Remove(const std::string& path) override;
    int MakeFolder(const std::string& path) override;
    bool ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                   std::string& error) override;
    bool WriteWhole(const std::string& path, const uint8_t* data, size_t size, std::string& error,
                    Durability durability) override;
    bool FlushFolder(const std::string& folder, std::string& error) override;
    bool MayChange(const std::string& path, std::string& error) override;
};

FileSystem& TheRealFileSystem();

// pread until size bytes are read or the file ends (EINTR retried): the bytes read, or -1.
int64_t ReadAtMost(int fd, uint8_t* buffer, int64_t size, int64_t offset);

}  // namespace dorvex
