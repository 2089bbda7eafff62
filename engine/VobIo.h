// The engine's one I/O layer for VOB files: every read, write, seek and truncation of VOB data
// goes through here, so error checks and buffering live in one place. Reads are sequential at
// a read cursor; writes are positioned by sector and buffered behind the reads (in place a write
// never lands ahead of unread data); a read-back sees writes still in the buffer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "support/FileSystem.h"

namespace dorvex {

// Page-aligned storage for the I/O buffers: the kernel copies to and from page-aligned user
// memory several times faster than from memory that is not (measured: a 1 GiB pass from backup
// took 1.1 s with a heap vector's buffer, against cp's 0.2 s).
class PageBuffer {
  public:
    uint8_t* data() const { return m_Data.get(); }
    bool empty() const { return m_Size == 0; }
    // Allocates n zeroed bytes; earlier contents are not kept.
    void resize(size_t n);

  private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> m_Data;
    size_t m_Size = 0;
};

class CVobFile;

// A write about to reach a VOB file, while every byte it puts there is still in memory: packs
// given to WriteAt (literal), then packs copied unchanged from further on in the same file.
struct PendingVobWrite {
    int64_t sector = 0;
    const uint8_t* literal = nullptr;
    int64_t literalPacks = 0;
    const uint8_t* copied = nullptr;
    int64_t copiedPacks = 0;
    int64_t copiedFrom = 0;  // sector of the first copied pack's source; -1: another file's
};

// Told of every change to a file before it is made (an in-place run's journal). False stops it:
// the file is left as it is and the call that would have made it fails.
class VobWriteObserver {
  public:
    virtual ~VobWriteObserver() = default;
    virtual bool BeforeVobWrite(const CVobFile& file, const PendingVobWrite& write) = 0;
    virtual bool BeforeVobTruncate(const CVobFile& file, int64_t sectors) = 0;
};

class CVobFile {
  public:
    // Files are opened, read and written through `files`.
    explicit CVobFile(FileSystem& files) : m_Files(files) {}
    ~CVobFile();
    CVobFile(const CVobFile&) = delete;
    CVobFile& operator=(const CVobFile&) = delete;

    bool Open(const std::string& path, OpenMode mode);
    // Null for none. With an observer every change goes through memory, where it can be told
    // what the change holds (never an in-kernel copy), and a write never holds a pack given
    // after the one that made the buffer full.
    void SetWriteObserver(VobWriteObserver* observer) { m_Observer = observer; }
    // Flushes buffered writes and closes; false when a pending write failed.
    bool Close();
    bool IsOpen() const { return m_File != nullptr; }
    const std::string& Path() const { return m_Path; }

    // Reads the pack at the read cursor and advances it. Returns the bytes read: 2048, fewer at
    // the end of the file, 0 at its end, -1 on a read error.
    int32_t ReadNext(uint8_t* pack);
    // The same without copying: `pack` points at the pack in the read-ahead buffer, valid until
    // the next read through this file.
    int32_t ReadNextView(const uint8_t*& pack);
    int64_t ReadCursor() const { return m_ReadCursor; }
    void SetReadCursor(int64_t sector);

    // Writes one pack at a sector (buffered). False when a write had to be flushed and failed.
    bool WriteAt(int64_t sector, const uint8_t* pack);
    // Reads one whole pack at a sector, including data still in the write buffer.
    bool ReadAt(int64_t sector, uint8_t* pack);
    // Puts an unchanged pack of another open file at a sector of this one. Consecutive packs
    // become one write straight from the source's read-ahead buffer, where the pass has just
    // read them (no copy in user memory), or one in-kernel copy (copy_file_range) when that
    // buffer has moved on since. Onto itself (in place) only behind the read cursor, as a pass
    // moves packs down. The source must stay open until this file is flushed.
    bool CopyPackFrom(const CVobFile& source, int64_t sourceSector, int64_t sector);
    bool Flush();
    // Cuts the file to a number of sectors (flushing first).
    bool TruncateTo(int64_t sectors);

    // Text of the last failure (strerror of the system call), for the alert.
    const std::string& LastError() const { return m_LastError; }

  private:
    // Records the system's reason for a failed call; false, for returning.
    bool Failed();
    // Tells the observer (if any) of a write; false when it stops the write.
    bool Announce(const PendingVobWrite& write);
    // The pending copy's source is this very file (in place).
    bool CopiesFromItself() const { return m_CopyFile == m_File.get(); }
    bool FlushWrites();
    bool FlushCopy();
    bool CopyThroughMemory(int64_t from, int64_t to, int64_t size);
    // The pending copy's bytes where the source's read-ahead buffer still holds them, else null.
    const uint8_t* PendingCopyInSourceBuffer() const;
    bool Refill();

    FileSystem& m_Files;
    VobWriteObserver* m_Observer = nullptr;
    std::unique_ptr<FileHandle> m_File;
    std::string m_Path;
    std::string m_LastError;
    int64_t m_ReadCursor = 0;
    // Read-ahead and write-behind buffers; implementation detail of the I/O layer.
    PageBuffer m_ReadBuf;
    int64_t m_ReadBufStart = 0;  // sector of m_ReadBuf[0]
    int64_t m_ReadBufPacks = 0;  // whole packs valid in m_ReadBuf
    int32_t m_ReadBufTail = 0;   // bytes of a partial pack after them (end of file)
    // Changes whenever m_ReadBuf is refilled, cut or the file reopened: a pending copy made
    // from this file reads its bytes from m_ReadBuf only while this is what it was.
    uint64_t m_ReadBufGeneration = 0;
    PageBuffer m_WriteBuf;
    int64_t m_WriteBufStart = 0;  // sector of m_WriteBuf[0]
    int64_t m_WriteBufPacks = 0;
    // A pending copy of consecutive packs from another file. Buffered writes are pending along
    // with it only when they end right where it starts (a navpack and the run after it); they
    // are written first or in the same call, so each reaches the file in the order asked for.
    const CVobFile* m_CopySource = nullptr;
    uint64_t m_CopySourceGeneration = 0;
    FileHandle* m_CopyFile = nullptr;  // the source's open file when the copy was asked for
    int64_t m_CopyFrom = 0;            // sector in the source
    int64_t m_CopyTo = 0;              // sector here
    int64_t m_CopyPacks = 0;
};

}  // namespace dorvex
