// The record a backup folder keeps of which files it belongs to: for every file a run from
// backup copied or moved there, what the copy holds, and what the run left in the disc folder
// under that name. Restore trusts a copy only when it is what the record says, and replaces a
// file only when it is what the run left; the check before a run tells an earlier run on these
// files from another disc's leftover backup by it.
//
// One record file per backup folder, not one per title set: VIDEO_TS.IFO belongs to every title
// set, each run and each restore changes it, and its record has to change in the same atomic
// write as the title set's own. The file is written whole (WriteWhole), so a kill at any moment
// leaves the old record or the new one.
//
// A run writes it three times: before the first file moves (the originals, each file marked
// running, flushed like the copies), before each repaired IFO replaces the old one (the bytes
// it will hold, so that an interrupted run's IFO is still known), and once the run is done
// (what it left, no longer running). While a file is marked running its VOB is the output the
// run was writing and cannot be known; its IFO and BUP are the original or an announced repair.
//
// Format (little-endian): "DORVEXBK", u32 version 1, u32 record count, then per record: u32
// name length and the name, u8 flags (1 copied, 2 running), the original (u8 present, i64 size,
// u64 fingerprint), u32 count of left states and each state as the original; last, u64 XXH64 of
// every byte before it, so that a torn or foreign file is refused, never half read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/backup/FileState.h"
#include "support/DiskFlush.h"

namespace dorvex {

class FileSystem;

struct BackupRecord {
    std::string name;  // the disc file's name in upper case (its copy has it in any case)
    bool copied = false;
    FileState original;  // the copy's bytes, when copied
    bool running = false;
    // What the file in the disc folder may hold: once the run is done, the one state it left.
    std::vector<FileState> left;

    // True when a file found in the disc folder under the name is one the run left (or may have
    // left, while it ran). A missing file is always: a restore brings back the original.
    bool Accepts(const FileState& found) const;
    void AddLeft(const FileState& state);
};

enum class ManifestRead { Missing, Read, Unreadable };

class BackupManifest {
  public:
    static constexpr std::string_view kFileName = "manifest.dorvex-backup";

    // Unreadable: not this format, torn, or of a later version; the reason in `error`.
    ManifestRead Read(FileSystem& files, const std::string& path, std::string& error);
    bool Write(FileSystem& files, const std::string& path, Durability durability,
               std::string& error) const;

    // By name in any case, as the files are found.
    const BackupRecord* Find(std::string_view name) const;
    BackupRecord* Find(std::string_view name);
    // Found, or added empty.
    BackupRecord& Entry(std::string_view name);
    void Erase(std::string_view name);
    const std::vector<BackupRecord>& Records() const { return m_Records; }
    std::vector<BackupRecord>& Records() { return m_Records; }

  private:
    std::vector<BackupRecord> m_Records;
};

}  // namespace dorvex
