#include "engine/VobIo.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/PackLayout.h"
#include "support/Fingerprint.h"

namespace dorvex {

namespace {

constexpr int64_t kPack = pack::kPackSize;
// One refill of the read-ahead buffer, and one flush of the write-behind buffer. Writes in
// smaller pieces measured several times slower into the page cache here (dd of 1 GiB: 1.8 s in
// 256 KiB blocks, 0.2 s in 4 MiB blocks); 5 MiB together keeps the footprint small and fixed.
constexpr int64_t kReadAheadPacks = 512;     // 1 MiB
constexpr int64_t kWriteBehindPacks = 2048;  // 4 MiB
// A move down within one file by less than this goes through memory: the kernel's copy of it
// would take a call per step of the distance, and measured slower below 64 KiB (a 512 MiB move
// in the page cache: 0.19 s in 8 KiB steps, 0.11 s in 32 KiB steps or through memory, 0.09 s in
// 64 KiB steps).
constexpr int64_t kShortestKernelStep = 32 * kPack;
// A file handed to the disk as it is written is handed on at least this often (4 MiB), so that
// the disk starts on a long batch while the rest of it is still going out.
constexpr int64_t kHandOnEveryPacks = 2048;
// The most pieces one write call takes (FileHandle::Write).
constexpr int kPiecesPerCall = 4;
constexpr const char* kNotRecorded = "the change could not be recorded first";

}  // namespace

int64_t PendingVobWrite::Lowest() const {
    int64_t lowest = INT64_MAX;
    for (const WritePiece& piece : *this) {
        lowest = std::min(lowest, piece.sector);
    }
    return lowest;
}

int64_t PendingVobWrite::End() const {
    int64_t end = 0;
    for (const WritePiece& piece : *this) {
        end = std::max(end, piece.sector + piece.packs);
    }
    return end;
}

CVobFile::CVobFile(FileSystem& files) : m_Files(files) {
    // Sized once: a batch never holds more pieces than packs, and the pass does not allocate.
    m_Pieces.reserve(kWriteBehindPacks);
    m_Sources.reserve(kWriteBehindPacks);
}

bool CVobFile::Failed() {
    m_LastError = strerror(errno);
    return false;
}

CVobFile::~CVobFile() {
    Close();
}

bool CVobFile::Open(const std::string& path, OpenMode mode) {
    Close();
    m_Path = path;
    m_LastError.clear();
    m_ReadCursor = 0;
    m_ReadBufStart = 0;
    m_ReadBufPacks = 0;
    m_ReadBufTail = 0;
    ++m_ReadBufGeneration;
    m_Pieces.clear();
    m_Sources.clear();
    m_LiteralPacks = 0;
    m_BatchPacks = 0;
    m_WriteBackAtOnce = false;
    m_RangesHandedOn = 0;
    m_File = m_Files.Open(path, mode, m_LastError);
    if (m_File == nullptr) {
        return false;
    }
    if (mode != OpenMode::Create) {
        m_File->ExpectSequentialReads();
    }
    // Only a file nothing writes: what is read ahead can never be stale.
    m_ReadsAhead = mode == OpenMode::Read && m_File->ReadsFromAnyThread();
    if (m_ReadsAhead && m_ReadAhead == nullptr) {
        m_ReadAhead = std::make_unique<ReadAheadThread>();
    }
    return true;
}

void CVobFile::HandWritesToDiskAtOnce() {
    m_WriteBackAtOnce = true;
    if (m_WriteBack == nullptr) {
        m_WriteBack = std::make_unique<WriteBackThread>();
    }
}

void CVobFile::WaitForWriteBack() {
    if (m_WriteBack != nullptr) {
        m_WriteBack->Wait();
    }
}

bool CVobFile::Close() {
    if (m_File == nullptr) {
        return true;
    }
    bool ok = Flush();
    WaitForWriteBack();
    ForgetReadAhead();
    if (!m_File->Close() && ok) {
        ok = Failed();
    }
    m_File.reset();
    m_ReadBufPacks = 0;
    m_ReadBufTail = 0;
    ++m_ReadBufGeneration;
    return ok;
}

void CVobFile::SetReadCursor(int64_t sector) {
    m_ReadCursor = sector;
}

PageBuffer::~PageBuffer() {
    Release();
}

void PageBuffer::Release() {
    if (m_Data != nullptr) {
        ::munmap(m_Data, m_Mapped);
    }
    m_Data = nullptr;
    m_Size = 0;
    m_Mapped = 0;
}

void PageBuffer::swap(PageBuffer& other) noexcept {
    std::swap(m_Data, other.m_Data);
    std::swap(m_Size, other.m_Size);
    std::swap(m_Mapped, other.m_Mapped);
}

void PageBuffer::resize(size_t n, Pages pages) {
    Release();
    if (n == 0) {
        return;
    }
    constexpr size_t kPage = 4096;
    const size_t rounded = (n + kPage - 1) / kPage * kPage;
    // Anonymous pages read as zeros and, unless populated now, take memory only once written.
    const int populate = pages == Pages::AtOnce ? MAP_POPULATE : 0;
    void* mapped = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | populate, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    m_Data = static_cast<uint8_t*>(mapped);
    m_Size = n;
    m_Mapped = rounded;
}

int32_t CVobFile::ReadNextView(const uint8_t*& pack) {
    pack = nullptr;
    if (m_File == nullptr) {
        m_LastError = strerror(EBADF);
        return -1;
    }
    int64_t index = m_ReadCursor - m_ReadBufStart;
    if (index < 0 || index >= m_ReadBufPacks) {
        if (!(index == m_ReadBufPacks && m_ReadBufTail > 0)) {
            if (!Refill()) {
                return -1;
            }
            index = 0;
        }
    }
    if (index < m_ReadBufPacks) {
        pack = m_ReadBuf.data() + index * kPack;
        ++m_ReadCursor;
        return static_cast<int32_t>(kPack);
    }
    // The partial pack at the end of the file, handed out once.
    const int32_t tail = m_ReadBufTail;
    if (tail > 0) {
        pack = m_ReadBuf.data() + m_ReadBufPacks * kPack;
        m_ReadBufTail = 0;
        ++m_ReadCursor;
    }
    return tail;
}

int32_t CVobFile::ReadNext(uint8_t* pack) {
    const uint8_t* view = nullptr;
    const int32_t got = ReadNextView(view);
    if (got > 0) {
        memcpy(pack, view, static_cast<size_t>(got));
    }
    return got;
}

bool CVobFile::Refill() {
    ++m_ReadBufGeneration;
    m_ReadBufStart = m_ReadCursor;
    m_ReadBufPacks = 0;
    m_ReadBufTail = 0;
    int64_t end = m_ReadCursor + kReadAheadPacks;
    // Buffered writes never lie ahead of the reads in a pass; should one overlap, it must reach
    // the disk before the disk is read.
    for (const WritePiece& piece : m_Pieces) {
        if (piece.sector < end && piece.sector + piece.packs > m_ReadCursor) {
            if (!Flush()) {
                return false;
            }
            break;
        }
    }
    const int64_t got = ReadStretch();
    if (got < 0) {
        return Failed();
    }
    m_ReadBufPacks = got / kPack;
    m_ReadBufTail = static_cast<int32_t>(got % kPack);
    return true;
}

int64_t CVobFile::ReadStretch() {
    // Allocated on first use and kept across files: an output file never needs one.
    constexpr int64_t kStretch = kReadAheadPacks * kPack;
    if (m_ReadBuf.empty()) {
        m_ReadBuf.resize(static_cast<size_t>(kStretch), PageBuffer::Pages::AtOnce);
    }
    int64_t got = 0;
    if (m_AheadStart == m_ReadCursor) {
        got = m_ReadAhead->Finish();
        m_AheadStart = -1;
        m_ReadBuf.swap(m_AheadBuf);
    } else {
        // A jump of the read cursor: what was read ahead is not what is wanted.
        ForgetReadAhead();
        got = m_File->Read(m_ReadBuf.data(), kStretch, m_ReadCursor * kPack);
    }
    if (m_ReadsAhead && got == kStretch) {
        if (m_AheadBuf.empty()) {
            m_AheadBuf.resize(static_cast<size_t>(kStretch), PageBuffer::Pages::AtOnce);
        }
        m_AheadStart = m_ReadCursor + kReadAheadPacks;
        m_ReadAhead->Start(*m_File, m_AheadBuf.data(), kStretch, m_AheadStart * kPack);
    }
    return got;
}

void CVobFile::ForgetReadAhead() {
    if (m_AheadStart >= 0) {
        m_ReadAhead->Finish();
        m_AheadStart = -1;
    }
}

WritePiece* CVobFile::LiteralAt(int64_t sector) {
    for (auto piece = m_Pieces.rbegin(); piece != m_Pieces.rend(); ++piece) {
        if (piece->from < 0 && sector >= piece->sector && sector < piece->sector + piece->packs) {
            return &*piece;
        }
    }
    return nullptr;
}

bool CVobFile::InCopiedPiece(int64_t sector) const {
    for (const WritePiece& piece : m_Pieces) {
        if (piece.from >= 0 && sector >= piece.sector && sector < piece.sector + piece.packs) {
            return true;
        }
    }
    return false;
}

bool CVobFile::RoomForOnePack(int64_t sector) {
    // A full batch goes out before the next pack joins it, not as the last one joins: a pack
    // given while a pass handles one input pack never leaves with that pack's own batch.
    // The piece list is sized once (a long batch of copies needs a few hundred pieces).
    const bool full =
        m_BatchPacks >= m_BatchLimit || m_Pieces.size() >= static_cast<size_t>(kWriteBehindPacks);
    if (full && m_BatchPacks > 0 && !Flush()) {
        return false;
    }
    if (m_BatchPacks == 0) {
        const BatchPlan plan =
            m_Observer != nullptr ? m_Observer->BatchStarts(*this, sector) : BatchPlan{};
        m_LongBatch = plan.longWithFingerprints;
        const int64_t most = m_LongBatch ? kLongBatchPacks : kWriteBehindPacks;
        m_BatchLimit = plan.packs > 0 ? std::min(plan.packs, most) : most;
        if (m_LongBatch && m_CopyFingerprints.empty()) {
            m_CopyFingerprints.resize(static_cast<size_t>(kLongBatchPacks));
        }
    }
    return true;
}

bool CVobFile::WriteAt(int64_t sector, const uint8_t* pack) {
    if (m_File == nullptr) {
        m_LastError = strerror(EBADF);
        return false;
    }
    if (WritePiece* piece = LiteralAt(sector)) {
        memcpy(const_cast<uint8_t*>(piece->bytes) + (sector - piece->sector) * kPack, pack, kPack);
    } else {
        // A pack written where a copy is waiting lands after it, as asked; a long batch goes
        // out when its literal packs fill the buffer.
        if (((InCopiedPiece(sector) || m_LiteralPacks >= kWriteBehindPacks) && !Flush()) ||
            !RoomForOnePack(sector)) {
            return false;
        }
        if (m_WriteBuf.empty()) {
            m_WriteBuf.resize(static_cast<size_t>(kWriteBehindPacks * kPack));
        }
        uint8_t* slot = m_WriteBuf.data() + m_LiteralPacks * kPack;
        memcpy(slot, pack, kPack);
        WritePiece* last = m_Pieces.empty() ? nullptr : &m_Pieces.back();
        if (last != nullptr && last->from < 0 && last->sector + last->packs == sector &&
            last->bytes + last->packs * kPack == slot) {
            ++last->packs;
        } else {
            m_Pieces.push_back({sector, 1, slot, -1, false});
            m_Sources.push_back({});
        }
        ++m_LiteralPacks;
        ++m_BatchPacks;
    }
    // Packs written over the read-ahead window must not be served stale from it.
    int64_t inRead = sector - m_ReadBufStart;
    if (inRead >= 0 && inRead < m_ReadBufPacks && sector >= m_ReadCursor) {
        memcpy(m_ReadBuf.data() + inRead * kPack, pack, kPack);
    }
    return true;
}

bool CVobFile::ReadAt(int64_t sector, uint8_t* pack) {
    if (m_File == nullptr) {
        m_LastError = strerror(EBADF);
        return false;
    }
    if (const WritePiece* piece = LiteralAt(sector)) {
        memcpy(pack, piece->bytes + (sector - piece->sector) * kPack, kPack);
        return true;
    }
    if (InCopiedPiece(sector) && !Flush()) {
        return false;
    }
    return ReadIssued(sector, 1, pack);
}

bool CVobFile::ReadIssued(int64_t sector, int64_t packs, uint8_t* out) {
    const int64_t got = m_File->Read(out, packs * kPack, sector * kPack);
    if (got < 0) {
        return Failed();
    }
    if (got != packs * kPack) {
        m_LastError = "short read";
        return false;
    }
    return true;
}

bool CVobFile::CopyPackFrom(const CVobFile& source, int64_t sourceSector, int64_t sector) {
    if (m_File == nullptr || source.m_File == nullptr) {
        m_LastError = strerror(EBADF);
        return false;
    }
    // A piece never spans two fillings of the source's read-ahead buffer, so that it can be
    // written from there in one piece.
    const bool extends =
        !m_Pieces.empty() && m_Pieces.back().from >= 0 && m_Sources.back().file == &source &&
        m_Sources.back().generation == source.m_ReadBufGeneration &&
        m_Pieces.back().from + m_Pieces.back().packs == sourceSector &&
        m_Pieces.back().sector + m_Pieces.back().packs == sector && m_BatchPacks < m_BatchLimit;
    if (extends) {
        ++m_Pieces.back().packs;
        ++m_BatchPacks;
    } else {
        if (!RoomForOnePack(sector)) {
            return false;
        }
        m_Pieces.push_back({sector, 1, nullptr, sourceSector, &source == this});
        m_Sources.push_back(
            {&source, source.m_File.get(), source.m_ReadBufGeneration, m_CopyFingerprintCount});
        ++m_BatchPacks;
    }
    const int64_t inBuffer = sourceSector - source.m_ReadBufStart;
    if (m_LongBatch) {
        // A long batch's copies are read again when it goes out; their fingerprints are taken
        // now, while the pack is in memory anyway.
        if (inBuffer < 0 || inBuffer >= source.m_ReadBufPacks) {
            m_LastError = "a copied pack was not read first";
            return false;
        }
        m_CopyFingerprints[static_cast<size_t>(m_CopyFingerprintCount++)] =
            Fingerprint(source.m_ReadBuf.data() + inBuffer * kPack, static_cast<size_t>(kPack));
        return true;
    }
    // The buffer's last pack: the next read refills it, so the batch is written while it is there.
    if (inBuffer + 1 == source.m_ReadBufPacks) {
        return Flush();
    }
    return true;
}

void CVobFile::LocateCopiedBytes() {
    for (size_t i = 0; i < m_Pieces.size(); ++i) {
        WritePiece& piece = m_Pieces[i];
        if (piece.from < 0) {
            continue;
        }
        const CopySource& source = m_Sources[i];
        const CVobFile* file = source.file;
        const int64_t first = piece.from - file->m_ReadBufStart;
        const bool buffered = file->m_ReadBufGeneration == source.generation &&
                              file->m_File.get() == source.handle && first >= 0 &&
                              first + piece.packs <= file->m_ReadBufPacks;
        piece.bytes = buffered ? file->m_ReadBuf.data() + first * kPack : nullptr;
        piece.fingerprints =
            m_LongBatch ? m_CopyFingerprints.data() + source.fingerprintAt : nullptr;
    }
}

bool CVobFile::Flush() {
    if (m_Pieces.empty()) {
        return true;
    }
    LocateCopiedBytes();
    const PendingVobWrite batch{m_Pieces.data(), static_cast<int32_t>(m_Pieces.size())};
    bool recorded = m_Observer == nullptr || m_Observer->BeforeVobWrite(*this, batch);
    if (!recorded) {
        m_LastError = kNotRecorded;
    }
    const bool issued = recorded && Issue();
    m_Pieces.clear();
    m_Sources.clear();
    m_LiteralPacks = 0;
    m_BatchPacks = 0;
    m_CopyFingerprintCount = 0;
    return issued;
}

bool CVobFile::Issue() {
    const bool issued = IssuePieces();
    HandOnWritten();
    return issued;
}

void CVobFile::Written(int64_t sector, int64_t packs) {
    if (!m_WriteBackAtOnce) {
        return;
    }
    m_UnhandedFirst = m_UnhandedPacks == 0 ? sector : std::min(m_UnhandedFirst, sector);
    m_UnhandedEnd = m_UnhandedPacks == 0 ? sector + packs : std::max(m_UnhandedEnd, sector + packs);
    m_UnhandedPacks += packs;
    if (m_UnhandedPacks >= kHandOnEveryPacks) {
        HandOnWritten();
    }
}

void CVobFile::HandOnWritten() {
    // Left to itself the kernel holds the writes in memory until the run's flush and then
    // writes them all while the run waits; handed on as they are made they go to the disk while
    // the pass writes the rest of a long batch and reads the next. Nothing depends on when they
    // arrive.
    if (m_UnhandedPacks > 0) {
        m_WriteBack->Start(*m_File, m_UnhandedFirst * kPack,
                           (m_UnhandedEnd - m_UnhandedFirst) * kPack);
        m_UnhandedPacks = 0;
        ++m_RangesHandedOn;
    }
}

bool CVobFile::IssuePieces() {
    // Pieces in memory that follow one another on disk go out in one call (a navpack and the
    // packs after it), as many as the call takes.
    size_t i = 0;
    while (i < m_Pieces.size()) {
        const WritePiece& first = m_Pieces[i];
        if (first.bytes == nullptr) {
            if (!IssueCopy(first)) {
                return false;
            }
            Written(first.sector, first.packs);
            ++i;
            continue;
        }
        iovec pieces[kPiecesPerCall];
        int count = 0;
        int64_t next = first.sector;
        while (i < m_Pieces.size() && count < kPiecesPerCall && m_Pieces[i].bytes != nullptr &&
               m_Pieces[i].sector == next) {
            pieces[count++] = {const_cast<uint8_t*>(m_Pieces[i].bytes),
                               static_cast<size_t>(m_Pieces[i].packs * kPack)};
            next += m_Pieces[i].packs;
            ++i;
        }
        if (!m_File->Write(pieces, count, first.sector * kPack)) {
            return Failed();
        }
        Written(first.sector, next - first.sector);
    }
    return true;
}

bool CVobFile::IssueCopy(const WritePiece& piece) {
    FileHandle& source = *m_Sources[static_cast<size_t>(&piece - m_Pieces.data())].handle;
    int64_t from = piece.from * kPack;
    int64_t to = piece.sector * kPack;
    int64_t remaining = piece.packs * kPack;
    int64_t step = remaining;
    // The kernel copies within one file only between ranges that do not overlap: a move down
    // by fewer packs than it holds goes in steps of its distance, lowest first, so that no step
    // writes over what a later one reads.
    if (piece.fromThisFile && piece.from < piece.sector + piece.packs &&
        piece.sector < piece.from + piece.packs) {
        step = from - to;
        if (step < kShortestKernelStep) {
            return CopyThroughMemory(source, from, to, remaining);
        }
    }
    while (remaining > 0) {
        const int64_t copied = m_File->CopyFrom(source, from, to, std::min(step, remaining));
        if (copied > 0) {
            from += copied;
            to += copied;
            remaining -= copied;
            continue;
        }
        if (copied == 0 || errno == EXDEV) {
            // The kernel cannot copy between these files (or the source ended): through memory.
            return CopyThroughMemory(source, from, to, remaining);
        }
        return Failed();
    }
    return true;
}

bool CVobFile::CopyThroughMemory(FileHandle& source, int64_t from, int64_t to, int64_t size) {
    if (m_CopyBuf.empty()) {
        m_CopyBuf.resize(static_cast<size_t>(kReadAheadPacks * kPack));
    }
    while (size > 0) {
        const int64_t chunk = std::min<int64_t>(size, kReadAheadPacks * kPack);
        const int64_t got = source.Read(m_CopyBuf.data(), chunk, from);
        if (got != chunk) {
            if (got < 0) {
                return Failed();
            }
            m_LastError = "short read";
            return false;
        }
        if (!m_File->Write(m_CopyBuf.data(), chunk, to)) {
            return Failed();
        }
        from += chunk;
        to += chunk;
        size -= chunk;
    }
    return true;
}

bool CVobFile::SyncIssued() {
    if (m_File == nullptr) {
        m_LastError = strerror(EBADF);
        return false;
    }
    WaitForWriteBack();
    return m_File->Sync() || Failed();
}

bool CVobFile::Sync() {
    if (m_File == nullptr) {
        m_LastError = strerror(EBADF);
        return false;
    }
    if (!Flush()) {
        return false;
    }
    WaitForWriteBack();
    return m_File->Sync() || Failed();
}

bool CVobFile::TruncateTo(int64_t sectors) {
    if (m_File == nullptr) {
        m_LastError = strerror(EBADF);
        return false;
    }
    if (!Flush()) {
        return false;
    }
    WaitForWriteBack();
    if (m_Observer != nullptr && !m_Observer->BeforeVobTruncate(*this, sectors)) {
        m_LastError = kNotRecorded;
        return false;
    }
    if (!m_File->Truncate(sectors * kPack)) {
        return Failed();
    }
    // What was read ahead past the new end no longer exists.
    ++m_ReadBufGeneration;
    m_ReadBufPacks = std::min(m_ReadBufPacks, std::max<int64_t>(0, sectors - m_ReadBufStart));
    m_ReadBufTail = 0;
    return true;
}

}  // namespace dorvex
