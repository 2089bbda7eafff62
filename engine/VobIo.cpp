#include "engine/VobIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/PackLayout.h"
#include "support/BigEndian.h"
#include "support/FileOverlay.h"

namespace dorvex {

namespace {

constexpr int64_t kPack = pack::kPackSize;
// One refill of the read-ahead buffer, and one flush of the write-behind buffer. Writes in
// smaller pieces measured several times slower into the page cache here (dd of 1 GiB: 1.8 s in
// 256 KiB blocks, 0.2 s in 4 MiB blocks); 5 MiB together keeps the footprint small and fixed.
constexpr int64_t kReadAheadPacks = 512;     // 1 MiB
constexpr int64_t kWriteBehindPacks = 2048;  // 4 MiB

CVobFile::FaultHook& Hook() {
    static CVobFile::FaultHook hook;
    return hook;
}

// Reads as much of [offset, offset + size) as the file holds; -1 on an error.
int64_t ReadFully(int fd, uint8_t* buf, int64_t size, int64_t offset) {
    int64_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd, buf + done, static_cast<size_t>(size - done), offset + done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

// A dry run keeps the packs that a pass reads back: its navpacks.
bool IsNavpack(const uint8_t* pack) {
    return ReadBE32(pack, pack::kPciPacket) == pack::kCodePrivate2 &&
           ReadBE32(pack, pack::kDsiPacket) == pack::kCodePrivate2;
}

// Writes head then tail as one piece at offset, retrying short writes (a full disk ends them).
bool WriteTwoFully(int fd, const uint8_t* head, int64_t headSize, const uint8_t* tail,
                   int64_t tailSize, int64_t offset) {
    const int64_t total = headSize + tailSize;
    int64_t done = 0;
    while (done < total) {
        iovec parts[2];
        int count = 0;
        if (done < headSize) {
            parts[count++] = {const_cast<uint8_t*>(head + done),
                              static_cast<size_t>(headSize - done)};
            parts[count++] = {const_cast<uint8_t*>(tail), static_cast<size_t>(tailSize)};
        } else {
            parts[count++] = {const_cast<uint8_t*>(tail + (done - headSize)),
                              static_cast<size_t>(total - done)};
        }
        ssize_t n = pwritev(fd, parts, count, offset + done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

bool WriteFully(int fd, const uint8_t* buf, int64_t size, int64_t offset) {
    return WriteTwoFully(fd, buf, size, buf + size, 0, offset);
}

}  // namespace

void CVobFile::SetFaultHook(FaultHook hook) {
    Hook() = std::move(hook);
}

bool CVobFile::InjectFault(VobIoOp op, int64_t sector) {
    const FaultHook& hook = Hook();
    if (hook && !hook(op, m_Path, sector)) {
        errno = EIO;
        m_LastError = strerror(EIO);
        return true;
    }
    return false;
}

CVobFile::~CVobFile() {
    Close();
}

bool CVobFile::Open(const std::string& path, VobOpenMode mode) {
    Close();
    m_Path = path;
    m_LastError.clear();
    m_ReadCursor = 0;
    m_ReadBufStart = 0;
    m_ReadBufPacks = 0;
    m_ReadBufTail = 0;
    ++m_ReadBufGeneration;
    m_WriteBufStart = 0;
    m_WriteBufPacks = 0;
    m_CopySource = nullptr;
    m_CopyFd = -1;
    m_CopyPacks = 0;
    if (InjectFault(VobIoOp::Open, 0)) {
        return false;
    }
    if (CFileOverlay* overlay = ActiveOverlay()) {
        return OpenInOverlay(*overlay, path, mode);
    }
    int flags = O_CLOEXEC;
    switch (mode) {
        case VobOpenMode::Read:
            flags |= O_RDONLY;
            break;
        case VobOpenMode::Update:
            flags |= O_RDWR;
            break;
        case VobOpenMode::Create:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
    }
    m_Fd = ::open(path.c_str(), flags, 0666);
    if (m_Fd < 0) {
        m_LastError = strerror(errno);
        return false;
    }
    if (mode != VobOpenMode::Create) {
        posix_fadvise(m_Fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    return true;
}

bool CVobFile::OpenInOverlay(CFileOverlay& overlay, const std::string& path, VobOpenMode mode) {
    m_Overlay = mode == VobOpenMode::Create ? overlay.Create(path) : overlay.Open(path);
    if (m_Overlay == nullptr) {
        m_LastError = strerror(ENOENT);
        return false;
    }
    // A file the run created has no bytes on disk: reading a pack of it that was not kept fails
    // as a read past the end of an empty file does.
    const std::string source = m_Overlay->source.empty() ? "/dev/null" : m_Overlay->source;
    m_Fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_Fd < 0) {
        m_LastError = strerror(errno);
        m_Overlay.reset();
        return false;
    }
    return true;
}

bool CVobFile::Close() {
    if (m_Fd < 0) {
        return true;
    }
    bool ok = Flush();
    if (InjectFault(VobIoOp::Close, 0)) {
        ok = false;
    }
    if (::close(m_Fd) != 0 && ok) {
        m_LastError = strerror(errno);
        ok = false;
    }
    m_Fd = -1;
    m_ReadBufPacks = 0;
    m_ReadBufTail = 0;
    ++m_ReadBufGeneration;
    m_CopySource = nullptr;
    m_Overlay.reset();
    return ok;
}

void CVobFile::SetReadCursor(int64_t sector) {
    m_ReadCursor = sector;
}

void PageBuffer::resize(size_t n) {
    constexpr size_t kPage = 4096;
    const size_t rounded = (n + kPage - 1) / kPage * kPage;
    m_Data.reset(static_cast<uint8_t*>(std::aligned_alloc(kPage, rounded)));
    if (m_Data == nullptr) {
        throw std::bad_alloc();
    }
    std::memset(m_Data.get(), 0, rounded);
    m_Size = n;
}

int32_t CVobFile::ReadNextView(const uint8_t*& pack) {
    pack = nullptr;
    if (m_Fd < 0) {
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
    if (m_WriteBufPacks > 0 && m_WriteBufStart < end &&
        m_WriteBufStart + m_WriteBufPacks > m_ReadCursor && !Flush()) {
        return false;
    }
    if (InjectFault(VobIoOp::Read, m_ReadCursor)) {
        return false;
    }
    // Allocated on first use and kept across files: an output file never needs one.
    if (m_ReadBuf.empty()) {
        m_ReadBuf.resize(static_cast<size_t>(kReadAheadPacks * kPack));
    }
    int64_t got = ReadFully(m_Fd, m_ReadBuf.data(), kReadAheadPacks * kPack, m_ReadCursor * kPack);
    if (got < 0) {
        m_LastError = strerror(errno);
        return false;
    }
    m_ReadBufPacks = got / kPack;
    m_ReadBufTail = static_cast<int32_t>(got % kPack);
    return true;
}

bool CVobFile::WriteAt(int64_t sector, const uint8_t* pack) {
    if (m_Fd < 0) {
        m_LastError = strerror(EBADF);
        return false;
    }
    if (InjectFault(VobIoOp::Write, sector)) {
        return false;
    }
    if (m_CopyPacks > 0 && !FlushCopy()) {
        return false;
    }
    int64_t index = sector - m_WriteBufStart;
    if (m_WriteBufPacks > 0 && index >= 0 && index < m_WriteBufPacks) {
        memcpy(m_WriteBuf.data() + index * kPack, pack, kPack);
        return true;
    }
    if (m_WriteBufPacks > 0 && index != m_WriteBufPacks && !Flush()) {
        return false;
    }
    if (m_WriteBufPacks == 0) {
        m_WriteBufStart = sector;
        if (m_WriteBuf.empty()) {
            m_WriteBuf.resize(static_cast<size_t>(kWriteBehindPacks * kPack));
        }
    }
    memcpy(m_WriteBuf.data() + m_WriteBufPacks * kPack, pack, kPack);
    ++m_WriteBufPacks;
    // Packs written over the read-ahead window must not be served stale from it.
    int64_t inRead = sector - m_ReadBufStart;
    if (inRead >= 0 && inRead < m_ReadBufPacks && sector >= m_ReadCursor) {
        memcpy(m_ReadBuf.data() + inRead * kPack, pack, kPack);
    }
    if (m_WriteBufPacks == kWriteBehindPacks) {
        return Flush();
    }
    return true;
}

bool CVobFile::ReadAt(int64_t sector, uint8_t* pack) {
    if (m_Fd < 0) {
        m_LastError = strerror(EBADF);
        return false;
    }
    int64_t index = sector - m_WriteBufStart;
    if (m_WriteBufPacks > 0 && index >= 0 && index < m_WriteBufPacks) {
        memcpy(pack, m_WriteBuf.data() + index * kPack, kPack);
        return true;
    }
    if (m_CopyPacks > 0 && sector >= m_CopyTo && sector < m_CopyTo + m_CopyPacks && !FlushCopy()) {
        return false;
    }
    if (InjectFault(VobIoOp::Read, sector)) {
        return false;
    }
    if (m_Overlay != nullptr) {
        auto kept = m_Overlay->packs.find(sector);
        if (kept != m_Overlay->packs.end()) {
            memcpy(pack, kept->second.data(), kPack);
            return true;
        }
        if ((sector + 1) * kPack > m_Overlay->size) {
            m_LastError = "short read";
            return false;
        }
    }
    int64_t got = ReadFully(m_Fd, pack, kPack, sector * kPack);
    if (got < 0) {
        m_LastError = strerror(errno);
        return false;
    }
    if (got != kPack) {
        m_LastError = "short read";
        return false;
    }
    return true;
}

bool CVobFile::Flush() {
    return FlushWrites() && FlushCopy();
}

bool CVobFile::FlushWrites() {
    if (m_WriteBufPacks == 0) {
        return true;
    }
    int64_t packs = m_WriteBufPacks;
    m_WriteBufPacks = 0;
    if (InjectFault(VobIoOp::Flush, m_WriteBufStart)) {
        return false;
    }
    if (m_Overlay != nullptr) {
        for (int64_t i = 0; i < packs; ++i) {
            const uint8_t* pack = m_WriteBuf.data() + i * kPack;
            if (IsNavpack(pack)) {
                m_Overlay->KeepPack(m_WriteBufStart + i, pack);
            } else {
                m_Overlay->Discard(m_WriteBufStart + i, 1);
            }
        }
        return true;
    }
    if (!WriteFully(m_Fd, m_WriteBuf.data(), packs * kPack, m_WriteBufStart * kPack)) {
        m_LastError = strerror(errno);
        return false;
    }
    return true;
}

bool CVobFile::CopyPackFrom(const CVobFile& source, int64_t sourceSector, int64_t sector) {
    if (m_Fd < 0 || source.m_Fd < 0) {
        m_LastError = strerror(EBADF);
        return false;
    }
    if (InjectFault(VobIoOp::Write, sector)) {
        return false;
    }
    // A run never spans two fillings of the source's read-ahead buffer, so that it can be
    // written from there in one piece.
    const bool extends = m_CopyPacks > 0 && m_CopySource == &source &&
                         m_CopySourceGeneration == source.m_ReadBufGeneration &&
                         m_CopyFrom + m_CopyPacks == sourceSector &&
                         m_CopyTo + m_CopyPacks == sector;
    if (!extends) {
        // Packs written just in front of the run (its navpack) stay pending and go out with it.
        if (!FlushCopy()) {
            return false;
        }
        if (m_WriteBufPacks > 0 && m_WriteBufStart + m_WriteBufPacks != sector && !FlushWrites()) {
            return false;
        }
        m_CopySource = &source;
        m_CopySourceGeneration = source.m_ReadBufGeneration;
        m_CopyFd = source.m_Fd;
        m_CopyFrom = sourceSector;
        m_CopyTo = sector;
    }
    ++m_CopyPacks;
    // The buffer's last pack: the next read refills it, so the run is written while it is there.
    if (sourceSector + 1 == source.m_ReadBufStart + source.m_ReadBufPacks) {
        return FlushCopy();
    }
    return true;
}

const uint8_t* CVobFile::PendingCopyInSourceBuffer() const {
    const CVobFile* source = m_CopySource;
    if (source == nullptr || source->m_ReadBufGeneration != m_CopySourceGeneration ||
        source->m_Fd != m_CopyFd) {
        return nullptr;
    }
    const int64_t first = m_CopyFrom - source->m_ReadBufStart;
    if (first < 0 || first + m_CopyPacks > source->m_ReadBufPacks) {
        return nullptr;
    }
    return source->m_ReadBuf.data() + first * kPack;
}

bool CVobFile::FlushCopy() {
    if (m_CopyPacks == 0) {
        return true;
    }
    // The pass has just read these packs: writing them from the source's buffer costs one copy,
    // as copy_file_range does, but in pieces that suit the page cache whatever the alignment.
    // copy_file_range fills each destination page from two source pages when the output lies
    // half a page off the input (after an odd number of removed packs): 40 to 100% slower.
    const uint8_t* buffered = m_Overlay == nullptr ? PendingCopyInSourceBuffer() : nullptr;
    int64_t remaining = m_CopyPacks * kPack;
    loff_t from = static_cast<loff_t>(m_CopyFrom * kPack);
    loff_t to = static_cast<loff_t>(m_CopyTo * kPack);
    m_CopyPacks = 0;
    if (InjectFault(VobIoOp::Flush, m_CopyTo)) {
        m_WriteBufPacks = 0;  // a failed flush drops what was pending, as FlushWrites does
        return false;
    }
    if (buffered != nullptr && m_WriteBufPacks > 0) {
        // The packs written just in front of the run (its navpack) go out in the same call.
        const int64_t headPacks = m_WriteBufPacks;
        m_WriteBufPacks = 0;
        if (InjectFault(VobIoOp::Flush, m_WriteBufStart)) {
            return false;
        }
        if (!WriteTwoFully(m_Fd, m_WriteBuf.data(), headPacks * kPack, buffered, remaining,
                           m_WriteBufStart * kPack)) {
            m_LastError = strerror(errno);
            return false;
        }
        return true;
    }
    if (!FlushWrites()) {
        return false;
    }
    if (m_Overlay != nullptr) {
        m_Overlay->Discard(m_CopyTo, remaining / kPack);
        return true;
    }
    if (buffered != nullptr) {
        if (!WriteFully(m_Fd, buffered, remaining, to)) {
            m_LastError = strerror(errno);
            return false;
        }
        return true;
    }
    while (remaining > 0) {
        ssize_t copied =
            copy_file_range(m_CopyFd, &from, m_Fd, &to, static_cast<size_t>(remaining), 0);
        if (copied > 0) {
            remaining -= copied;
            continue;
        }
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied == 0 || errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
            errno == EOPNOTSUPP) {
            // The kernel cannot copy between these files (or the source ended): through memory.
            return CopyThroughMemory(from, to, remaining);
        }
        m_LastError = strerror(errno);
        return false;
    }
    return true;
}

bool CVobFile::CopyThroughMemory(int64_t from, int64_t to, int64_t size) {
    if (m_WriteBuf.empty()) {
        m_WriteBuf.resize(static_cast<size_t>(kWriteBehindPacks * kPack));
    }
    while (size > 0) {
        const int64_t chunk = std::min<int64_t>(size, kWriteBehindPacks * kPack);
        const int64_t got = ReadFully(m_CopyFd, m_WriteBuf.data(), chunk, from);
        if (got != chunk) {
            m_LastError = got < 0 ? strerror(errno) : "short read";
            return false;
        }
        if (!WriteFully(m_Fd, m_WriteBuf.data(), chunk, to)) {
            m_LastError = strerror(errno);
            return false;
        }
        from += chunk;
        to += chunk;
        size -= chunk;
    }
    return true;
}

bool CVobFile::TruncateTo(int64_t sectors) {
    if (m_Fd < 0) {
        m_LastError = strerror(EBADF);
        return false;
    }
    if (!Flush()) {
        return false;
    }
    if (InjectFault(VobIoOp::Truncate, sectors)) {
        return false;
    }
    if (m_Overlay != nullptr) {
        m_Overlay->Truncate(sectors);
    } else if (ftruncate(m_Fd, static_cast<off_t>(sectors * kPack)) != 0) {
        m_LastError = strerror(errno);
        return false;
    }
    // What was read ahead past the new end no longer exists.
    ++m_ReadBufGeneration;
    m_ReadBufPacks = std::min(m_ReadBufPacks, std::max<int64_t>(0, sectors - m_ReadBufStart));
    m_ReadBufTail = 0;
    return true;
}

}  // namespace dorvex
