// The files of a dry run. While an overlay is installed, everything the program would create,
// change, rename or remove happens here instead, in memory: real files are only ever read. The
// file functions of support/Paths.h, whole-file writes and the VOB I/O layer all look here first,
// so that a run sees the same sizes, names and navpack bytes it would see on disk, and the run's
// own code decides every step as a real run would. What happened is kept as a list of events.
//
// Of the packs written into a VOB only those the writer asks to keep are held (the navpacks, which
// a pass reads back); the others only make the file longer. Memory thus follows the number of
// navpacks, not the size of the title set.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dorvex {

// One file as the dry run sees it.
struct OverlayFile {
    bool exists = true;
    bool folder = false;
    int64_t size = 0;
    // The real file whose bytes it holds wherever nothing was written; empty for a file the run
    // created.
    std::string source;
    std::map<int64_t, std::vector<uint8_t>> packs;  // kept packs by sector (2048 bytes each)
    std::vector<uint8_t> whole;                     // the bytes of a whole-file write
    bool written = false;                           // whole holds the file's bytes

    // A pack written at sector, kept.
    void KeepPack(int64_t sector, const uint8_t* pack);
    // Packs written at first.. that are not kept: they only make the file longer, and packs kept
    // there before are forgotten.
    void Discard(int64_t first, int64_t count);
    void Truncate(int64_t sectors);
};

enum class OverlayEvent { Rename, Remove, WriteWhole, MakeFolder };

struct OverlayRecord {
    OverlayEvent event;
    std::string path;
    std::string to;  // Rename only
};

class CFileOverlay {
  public:
    // The file at path; a real file seen for the first time is taken in as it is. Null when it
    // does not exist (in the overlay or on disk).
    std::shared_ptr<OverlayFile> Open(const std::string& path);
    // A new empty file at path, replacing whatever was there.
    std::shared_ptr<OverlayFile> Create(const std::string& path);
    // Null when the run has not touched path: the disk then answers.
    const OverlayFile* Find(const std::string& path) const;

    // As rename(2), remove(3), mkdir(2): 0, or -1 with errno set.
    int Rename(const std::string& from, const std::string& to);
    int Remove(const std::string& path);
    int MakeFolder(const std::string& path);
    void WriteWhole(const std::string& path, const uint8_t* data, size_t size);

    const std::vector<OverlayRecord>& Records() const { return m_Records; }

  private:
    static std::string Key(const std::string& path);

    std::map<std::string, std::shared_ptr<OverlayFile>> m_Files;
    std::vector<OverlayRecord> m_Records;
};

// The installed overlay, or null: real runs never have one.
CFileOverlay* ActiveOverlay();

// Installs an overlay for its lifetime.
class ScopedOverlay {
  public:
    explicit ScopedOverlay(CFileOverlay& overlay);
    ~ScopedOverlay();
    ScopedOverlay(const ScopedOverlay&) = delete;
    ScopedOverlay& operator=(const ScopedOverlay&) = delete;

  private:
    CFileOverlay* m_Previous;
};

}  // namespace dorvex
