#include "engine/journal/JournalFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/ByteRecord.h"
#include "support/Fingerprint.h"
#include "support/Paths.h"

namespace dorvex {

namespace {

constexpr size_t kFrameHeaderSize = 4 + 8;  // payload size, payload fingerprint
// The unit in which a file's data reaches the disk (the page cache's page).
constexpr size_t kDiskPage = 4096;

uint64_t FrameCheck(const uint8_t* payload, size_t size) {
    return Fingerprint(payload, size, size);
}

}  // namespace

bool JournalFile::Fail(const char* what) {
    m_Error = std::string(what) + " " + m_Path + ": " + strerror(errno);
    return false;
}

bool JournalFile::Create(const std::string& path, const std::vector<uint8_t>& header) {
    m_Path = path;
    m_End = 0;
    m_File = m_Files.Open(path, OpenMode::CreateNew, m_Error);
    if (m_File == nullptr) {
        m_Error = "Couldn't create " + path + ": " + m_Error;
        return false;
    }
    std::string error;
    if (!Append(header) || !Sync()) {
        // Nothing was changed yet: a journal that is not whole would only stand in the way.
        Close();
        m_Files.Remove(path);
        return false;
    }
    if (!m_Files.FlushFolder(GetFolder(path), error)) {
        m_Error = "Couldn't flush " + GetFolder(path) + ": " + error;
        Close();
        m_Files.Remove(path);
        return false;
    }
    return true;
}

std::vector<std::vector<uint8_t>> JournalFile::Frames(const std::vector<uint8_t>& bytes,
                                                      size_t& end, bool* damaged) {
    std::vector<std::vector<uint8_t>> frames;
    end = 0;
    while (bytes.size() - end >= kFrameHeaderSize) {
        ByteRecordReader in(bytes.data() + end, kFrameHeaderSize);
        const uint32_t size = in.U32();
        const uint64_t check = in.U64();
        if (size > bytes.size() - end - kFrameHeaderSize) {
            break;
        }
        const uint8_t* payload = bytes.data() + end + kFrameHeaderSize;
        if (FrameCheck(payload, size) != check) {
            break;
        }
        frames.emplace_back(payload, payload + size);
        end += kFrameHeaderSize + size;
    }
    if (damaged != nullptr) {
        *damaged = !IsTornTail(bytes, end);
    }
    return frames;
}

bool JournalFile::IsTornTail(const std::vector<uint8_t>& bytes, size_t from) {
    // An append cut short by a kill or a power cut leaves the frame it was writing, as far as it
    // got, or blocks of zeros the disk had allocated for it, and nothing after it: each frame is
    // flushed before anything that depends on it is done. Anything else after the last whole
    // frame is damage, and the records after it cannot be trusted to be the run's last.
    if (from >= bytes.size() || std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                            bytes.end(), [](uint8_t byte) { return byte == 0; })) {
        return true;
    }
    if (bytes.size() - from < kFrameHeaderSize) {
        return true;
    }
    ByteRecordReader in(bytes.data() + from, kFrameHeaderSize);
    const uint64_t size = in.U32();
    return from + kFrameHeaderSize + size >= bytes.size();
}

bool JournalFile::IsCutShortCreate(const std::vector<uint8_t>& bytes, const char* magic,
                                   size_t magicSize) {
    size_t end = 0;
    if (!Frames(bytes, end).empty()) {
        return false;
    }
    if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte == 0; })) {
        return true;
    }
    const auto zeros = [&bytes](size_t from, size_t to) {
        return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                           bytes.begin() + static_cast<std::ptrdiff_t>(to),
                           [](uint8_t byte) { return byte == 0; });
    };
    // A power cut can keep the file's length and lose its first page.
    if (bytes.size() >= kDiskPage && zeros(0, kDiskPage)) {
        return true;
    }
    // A shorter start cannot be told from someone else's file.
    if (bytes.size() < kFrameHeaderSize + magicSize ||
        std::memcmp(bytes.data() + kFrameHeaderSize, magic, magicSize) != 0) {
        return false;
    }
    ByteRecordReader in(bytes.data(), bytes.size());
    const uint32_t size = in.U32();
    if (size > bytes.size() - kFrameHeaderSize) {
        return true;
    }
    // Or keep the length and some pages of the header: one of its pages holds nothing but
    // zeros, and nothing but zeros follows it.
    const size_t frameEnd = kFrameHeaderSize + size;
    if (!zeros(frameEnd, bytes.size())) {
        return false;
    }
    for (size_t page = kDiskPage; page + kDiskPage <= frameEnd; page += kDiskPage) {
        if (zeros(page, page + kDiskPage)) {
            return true;
        }
    }
    return false;
}

bool JournalFile::Open(const std::string& path, std::vector<std::vector<uint8_t>>& frames) {
    m_Path = path;
    std::vector<uint8_t> bytes;
    if (m_Files.KindOf(path) != FileKind::Regular) {
        m_Error = path + " is not a file this program wrote";
        return false;
    }
    if (!m_Files.ReadWhole(path, bytes, m_Error)) {
        m_Error = "Couldn't read " + path + ": " + m_Error;
        return false;
    }
    size_t end = 0;
    bool damaged = false;
    frames = Frames(bytes, end, &damaged);
    if (damaged) {
        m_Error = path + " is damaged after its record " + std::to_string(frames.size()) +
                  ": what follows it is not a record the run wrote";
        return false;
    }
    m_File = m_Files.Open(path, OpenMode::Update, m_Error);
    if (m_File == nullptr) {
        m_Error = "Couldn't open " + path + ": " + m_Error;
        return false;
    }
    m_End = static_cast<int64_t>(end);
    if (end != bytes.size() && !m_File->Truncate(m_End)) {
        return Fail("Couldn't cut the torn end of");
    }
    return true;
}

void JournalFile::PutFrame(std::vector<uint8_t>& out, const std::vector<uint8_t>& payload) {
    ByteRecordWriter frame(out);
    frame.U32(static_cast<uint32_t>(payload.size()));
    frame.U64(FrameCheck(payload.data(), payload.size()));
    frame.Bytes(payload.data(), payload.size());
}

bool JournalFile::Replace(const std::vector<std::vector<uint8_t>>& payloads) {
    std::vector<uint8_t> bytes;
    for (const std::vector<uint8_t>& payload : payloads) {
        PutFrame(bytes, payload);
    }
    // The whole new journal is on disk before it takes the old one's name, atomically: a power
    // cut leaves one or the other.
    if (!Close()) {
        return false;
    }
    std::string error;
    if (!m_Files.WriteWhole(m_Path, bytes.data(), bytes.size(), error, Durability::Flushed) ||
        !m_Files.FlushFolder(GetFolder(m_Path), error)) {
        m_Error = "Couldn't write " + m_Path + ": " + error;
        return false;
    }
    m_File = m_Files.Open(m_Path, OpenMode::Update, m_Error);
    if (m_File == nullptr) {
        m_Error = "Couldn't open " + m_Path + ": " + m_Error;
        return false;
    }
    m_End = static_cast<int64_t>(bytes.size());
    return true;
}

bool JournalFile::Append(const std::vector<uint8_t>& payload) {
    m_Frame.clear();
    ByteRecordWriter out(m_Frame);
    out.U32(static_cast<uint32_t>(payload.size()));
    out.U64(FrameCheck(payload.data(), payload.size()));
    const iovec pieces[2] = {{m_Frame.data(), m_Frame.size()},
                             {const_cast<uint8_t*>(payload.data()), payload.size()}};
    if (!m_File->Write(pieces, 2, m_End)) {
        return Fail("Couldn't write");
    }
    m_End += static_cast<int64_t>(m_Frame.size() + payload.size());
    return true;
}

bool JournalFile::Sync() {
    return m_File->Sync() || Fail("Couldn't flush");
}

bool JournalFile::Close() {
    if (m_File == nullptr) {
        return true;
    }
    const bool closed = m_File->Close();
    m_File.reset();
    return closed || Fail("Couldn't close");
}

bool JournalFile::Remove() {
    if (!Close()) {
        return false;
    }
    if (m_Files.Remove(m_Path) != 0) {
        return Fail("Couldn't remove");
    }
    std::string error;
    if (!m_Files.FlushFolder(GetFolder(m_Path), error)) {
        m_Error = "Couldn't flush " + GetFolder(m_Path) + ": " + error;
        return false;
    }
    return true;
}

}  // namespace dorvex
