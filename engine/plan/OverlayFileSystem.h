// The files of a dry run. Everything the run creates, changes, renames or removes happens here,
// in memory; real files are only ever read. The run's own code sees the same sizes, names and
// navpack bytes it would see on disk and decides every step as a real run would. What happened
// is kept as a list of events.
//
// Of the packs written into a VOB only the navpacks are held (a pass reads them back, and the plan
// reports them); the others only make the file longer. Memory thus follows the number of
// navpacks, not the size of the title set.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/FileSystem.h"

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

class OverlayFileSystem final : public FileSystem {
  public:
    // Reads what the run has not touched from `disk`.
    explicit OverlayFileSystem(FileSystem& disk) : m_Disk(disk) {}

    std::unique_ptr<FileHandle> Open(const std::string& path, OpenMode mode,
                                     std::string& error) override;
    bool Exists(const std::string& path) override;
    int64_t SizeBytes(const std::string& path) override;
    FileKind KindOf(const std::string& path) override;
    std::vector<std::string> ListFiles(const std::string& folder) override;
    int Rename(const std::string& from, const std::string& to) override;
    int Exchange(const std::string& first, const std::string& second) override;
    int Remove(const std::string& path) override;
    int MakeFolder(const std::string& path) override;
    bool ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                   std::string& error) override;
    bool WriteWhole(const std::string& path, const uint8_t* data, size_t size, std::string& error,
                    Durability durability) override;
    // A dry run writes nothing to disk.
    bool FlushFolder(const std::string&, std::string&) override { return true; }

    // Null when the run has not touched path: the disk then answers.
    const OverlayFile* Find(const std::string& path) const;
    const std::vector<OverlayRecord>& Records() const { return m_Records; }

  private:
    static std::string Key(const std::string& path);
    // The file at path; a real file seen for the first time is taken in as it is. Null when it
    // does not exist (in the overlay or on disk).
    std::shared_ptr<OverlayFile> Take(const std::string& path);
    // A new empty file at path, replacing whatever was there.
    std::shared_ptr<OverlayFile> Create(const std::string& path);

    FileSystem& m_Disk;
    std::map<std::string, std::shared_ptr<OverlayFile>> m_Files;
    std::vector<OverlayRecord> m_Records;
};

}  // namespace dorvex
