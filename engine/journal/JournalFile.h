// The journal's file: a header frame, then one frame per record, each frame its payload's size,
// its payload's fingerprint and the payload. A frame is appended with one write; a kill during
// that write leaves a frame whose size or fingerprint does not match, and reading stops before
// it, so the journal always ends with the last record that was written whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/FileSystem.h"

namespace dorvex {

class JournalFile {
  public:
    explicit JournalFile(FileSystem& files) : m_Files(files) {}
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    // Makes the journal with its header, never over another file or through a link, and
    // flushes it and its folder: it is on disk before the run changes anything.
    bool Create(const std::string& path, const std::vector<uint8_t>& header);
    // Reads every whole frame of the journal at path (the header first) and opens it for
    // appending after the last of them; a torn frame at its end is cut off, anything else that
    // is not a whole frame fails it as damaged.
    bool Open(const std::string& path, std::vector<std::vector<uint8_t>>& frames);
    bool Append(const std::vector<uint8_t>& payload);
    // The journal replaced whole by these records (the first the header), flushed, and open for
    // appending after them.
    bool Replace(const std::vector<std::vector<uint8_t>>& payloads);
    int64_t Size() const { return m_End; }
    // Everything appended so far on disk.
    bool Sync();
    bool Close();
    // Closes the journal, removes it and flushes its folder.
    bool Remove();
    bool IsOpen() const { return m_File != nullptr; }

    const std::string& Path() const { return m_Path; }
    const std::string& LastError() const { return m_Error; }
    void SetError(std::string error) { m_Error = std::move(error); }

    // The frames of a journal's bytes, as far as they are whole; `end` is where they stop, and
    // `damaged` (when given) says whether what follows is more than a torn last append.
    static std::vector<std::vector<uint8_t>> Frames(const std::vector<uint8_t>& bytes, size_t& end,
                                                    bool* damaged = nullptr);
    static bool IsTornTail(const std::vector<uint8_t>& bytes, size_t from);
    // Whether bytes are what a Create cut short leaves of a header starting with magic: no
    // whole frame, and nothing but zeros (blocks allocated, data not yet on disk), the start of
    // that header, or the header with a page of it never written (a power cut kept the length).
    static bool IsCutShortCreate(const std::vector<uint8_t>& bytes, const char* magic,
                                 size_t magicSize);

  private:
    bool Fail(const char* what);
    static void PutFrame(std::vector<uint8_t>& out, const std::vector<uint8_t>& payload);

    FileSystem& m_Files;
    std::unique_ptr<FileHandle> m_File;
    std::string m_Path;
    std::string m_Error;
    int64_t m_End = 0;
    std::vector<uint8_t> m_Frame;  // reused for every append
};

}  // namespace dorvex
