// The engine's one I/O layer for VOB files: every read, write, seek and truncation of VOB data
// goes through here, so error checks and buffering live in one place. Reads are sequential at
// a read cursor; writes are positioned by sector and buffered behind the reads (in place a write
// never lands ahead of unread data); a read-back sees writes still in the buffer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/FileSystem.h"
#include "support/ReadAheadThread.h"
#include "support/WriteBackThread.h"

namespace dorvex {

// Page-aligned storage for the I/O buffers: the kernel copies to and from page-aligned user
// memory several times faster than from memory that is not (measured: a 1 GiB pass from backup
// took 1.1 s with a heap vector's buffer, against cp's 0.2 s). Unless asked for at once, pages are
// given by the system as they are first used: a buffer sized for the worst case (the
// write-behind buffer, of which a pass that copies kept packs in the kernel fills a few
// navpacks) costs memory only for what it holds.
class PageBuffer {
  public:
    PageBuffer() = default;
    ~PageBuffer();
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    uint8_t* data() const { return m_Data; }
    bool empty() const { return m_Size == 0; }
    // When a buffer's pages are given to it.
    enum class Pages {
        OnFirstUse,
        // In one call: for a buffer that is always filled whole. Each page given on first use
        // is a fault of its own, and a fault is dear in a virtual machine (here 11 us a page,
        // against 5 us given at once).
        AtOnce,
    };
    // Allocates n zeroed bytes; earlier contents are not kept.
    void resize(size_t n, Pages pages = Pages::OnFirstUse);
    void swap(PageBuffer& other) noexcept;

  private:
    void Release();

    uint8_t* m_Data = nullptr;
    size_t m_Size = 0;    // as asked
    size_t m_Mapped = 0;  // whole pages
};

class CVobFile;

// One piece of a batch of writes: packs put at consecutive sectors, either given to WriteAt
// (literal) or copied unchanged from another sector (of another file, or further on in this one).
struct WritePiece {
    int64_t sector = 0;
    int64_t packs = 0;
    // Where the bytes are in memory while the batch waits, or null for packs the kernel copies
    // from `from` (their source's read-ahead buffer has moved on).
    const uint8_t* bytes = nullptr;
    int64_t from = -1;  // copied: the first source sector; -1 for literal packs
    bool fromThisFile = false;
    // Copied, in a batch planned with fingerprints: each pack's Fingerprint, taken as it was
    // read; else null.
    const uint64_t* fingerprints = nullptr;
};

// How a batch of writes is to be gathered, as its observer asks.
struct BatchPlan {
    // The most packs it may hold; 0 for the default (the write-behind buffer's size).
    int64_t packs = 0;
    // Long: copies wait for the batch instead of leaving while their source's read-ahead
    // buffer holds them (they are read again when it goes out), so that up to kLongBatchPacks
    // packs share one batch; and each copied pack is fingerprinted as it is read.
    bool longWithFingerprints = false;
};
// The most packs a long batch holds (64 MiB).
inline constexpr int64_t kLongBatchPacks = 32768;

// A batch of writes about to reach a VOB file, in the order they will be made.
struct PendingVobWrite {
    const WritePiece* pieces = nullptr;
    int32_t count = 0;

    const WritePiece* begin() const { return pieces; }
    const WritePiece* end() const { return pieces + count; }
    // The lowest sector the batch writes, and the sector after the highest.
    int64_t Lowest() const;
    int64_t End() const;
};

// Told of every change to a file before it is made (an in-place run's journal). False stops it:
// the file is left as it is and the call that would have made it fails.
class VobWriteObserver {
  public:
    virtual ~VobWriteObserver() = default;
    // A new batch begins with a piece at `sector`: how to gather it.
    virtual BatchPlan BatchStarts(CVobFile& /*file*/, int64_t /*sector*/) { return {}; }
    virtual bool BeforeVobWrite(CVobFile& file, const PendingVobWrite& write) = 0;
    virtual bool BeforeVobTruncate(CVobFile& file, int64_t sectors) = 0;
};

class CVobFile {
  public:
    // Files are opened, read and written through `files`.
    explicit CVobFile(FileSystem& files);
    ~CVobFile();
    CVobFile(const CVobFile&) = delete;
    CVobFile& operator=(const CVobFile&) = delete;

    // A file opened to be read only is read a stretch ahead, on a thread of its own, where its
    // file system allows that.
    bool Open(const std::string& path, OpenMode mode);
    // Until the file is opened again, each batch is handed to the disk's write-back as it goes
    // out (from a thread of its own: the pass never waits for the disk's queue).
    void HandWritesToDiskAtOnce();
    // How many ranges were handed to the disk's write-back since the file was opened.
    int64_t RangesHandedOn() const { return m_RangesHandedOn; }
    // Null for none.
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

    // Writes one pack at a sector (buffered). False when a batch had to go out and failed.
    bool WriteAt(int64_t sector, const uint8_t* pack);
    // Reads one whole pack at a sector, including data still waiting in the batch.
    bool ReadAt(int64_t sector, uint8_t* pack);
    // Reads whole packs as the file itself holds them, whatever waits in the batch.
    bool ReadIssued(int64_t sector, int64_t packs, uint8_t* out);
    // Puts an unchanged pack of another open file at a sector of this one. Consecutive packs
    // become one piece, written straight from the source's read-ahead buffer where the pass has
    // just read them (no copy in user memory), or copied by the kernel once that buffer has
    // moved on. Onto itself (in place) only behind the read cursor, as a pass moves packs down.
    // The source must stay open until this file is flushed.
    bool CopyPackFrom(const CVobFile& source, int64_t sourceSector, int64_t sector);
    // The batch goes out (told to the observer first).
    bool Flush();
    // Everything written so far on disk.
    bool Sync();
    // What has gone out so far on disk, the batch left waiting (an observer deciding about it).
    bool SyncIssued();
    // Cuts the file to a number of sectors (flushing first).
    bool TruncateTo(int64_t sectors);

    // Text of the last failure (strerror of the system call), for the alert.
    const std::string& LastError() const { return m_LastError; }

  private:
    // Nothing left for the write-back thread to start, before the file is flushed or closed.
    void WaitForWriteBack();
    // Records the system's reason for a failed call; false, for returning.
    bool Failed();
    // Makes room for one more pack in the batch (sending a full one out first), and starts a
    // batch at `sector` when none is waiting.
    bool RoomForOnePack(int64_t sector);
    // The literal piece holding a sector, or null.
    WritePiece* LiteralAt(int64_t sector);
    bool InCopiedPiece(int64_t sector) const;
    // Each copied piece's bytes where its source's buffer still holds them, else null.
    void LocateCopiedBytes();
    bool Issue();
    bool IssuePieces();
    // Packs just written, to be handed to the disk (a file handed on at once).
    void Written(int64_t sector, int64_t packs);
    void HandOnWritten();
    bool IssueCopy(const WritePiece& piece);
    bool CopyThroughMemory(FileHandle& source, int64_t from, int64_t to, int64_t size);
    bool Refill();
    // Reads the stretch at the read cursor into m_ReadBuf: the bytes read, or -1.
    int64_t ReadStretch();
    void ForgetReadAhead();

    FileSystem& m_Files;
    VobWriteObserver* m_Observer = nullptr;
    std::unique_ptr<FileHandle> m_File;
    std::string m_Path;
    std::string m_LastError;
    int64_t m_ReadCursor = 0;
    // Read-ahead buffer; implementation detail of the I/O layer.
    PageBuffer m_ReadBuf;
    int64_t m_ReadBufStart = 0;  // sector of m_ReadBuf[0]
    int64_t m_ReadBufPacks = 0;  // whole packs valid in m_ReadBuf
    int32_t m_ReadBufTail = 0;   // bytes of a partial pack after them (end of file)
    // Changes whenever m_ReadBuf is refilled, cut or the file reopened: a copied piece takes its
    // bytes from m_ReadBuf only while this is what it was.
    uint64_t m_ReadBufGeneration = 0;
    // The stretch after m_ReadBuf's, being read into m_AheadBuf (a file opened to be read only).
    bool m_ReadsAhead = false;
    std::unique_ptr<ReadAheadThread> m_ReadAhead;  // made at the first file read ahead
    PageBuffer m_AheadBuf;
    int64_t m_AheadStart = -1;  // its first sector; -1 while none is being read
    // The batch: its pieces in the order asked for, the literal packs' bytes in m_WriteBuf.
    std::vector<WritePiece> m_Pieces;
    // Per copied piece (index as in m_Pieces): its source and that source's buffer generation.
    struct CopySource {
        const CVobFile* file = nullptr;
        FileHandle* handle = nullptr;
        uint64_t generation = 0;
        int64_t fingerprintAt = 0;  // the index of its first pack's in m_CopyFingerprints
    };
    std::vector<CopySource> m_Sources;
    PageBuffer m_WriteBuf;
    int64_t m_LiteralPacks = 0;
    int64_t m_BatchPacks = 0;
    int64_t m_BatchLimit = 0;  // packs the batch may hold
    bool m_LongBatch = false;
    bool m_WriteBackAtOnce = false;
    std::unique_ptr<WriteBackThread> m_WriteBack;  // made at the first file handed on at once
    int64_t m_UnhandedFirst = 0;                   // the sectors written and not handed on yet
    int64_t m_UnhandedEnd = 0;
    int64_t m_UnhandedPacks = 0;
    int64_t m_RangesHandedOn = 0;
    std::vector<uint64_t> m_CopyFingerprints;  // a long batch's copied packs, in order
    int64_t m_CopyFingerprintCount = 0;
    PageBuffer m_CopyBuf;  // copies the kernel cannot make go through here
};

}  // namespace dorvex
