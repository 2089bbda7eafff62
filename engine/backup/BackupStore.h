// The backup folder of a disc folder ("DorvexBackup" beside the VOB files, or one level above
// them), the copies a run from backup keeps in it, and how they are put back or removed. Only
// the names the program gives its copies are ever touched there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/FileSystem.h"

namespace dorvex {

// A copy or the backup's record of them (BackupManifest.h), or what is left of one an
// interrupted write was making.
bool IsBackupFileName(const std::string& name);

// True when the names (of a backup folder's copies) hold copies of other title sets than this
// one (the video manager's IFO and BUP belong to none).
bool HoldsOtherSets(const std::vector<std::string>& names, int32_t titleSet);

class BackupStore {
  public:
    // The backup folder of the disc folder that holds discFile.
    BackupStore(FileSystem& files, const std::string& discFile, bool above);

    // With a trailing separator.
    const std::string& Path() const { return m_Path; }
    // Without it.
    std::string Folder() const;
    // Where the copy of a file of the disc folder goes (a copy made from a file spelled in
    // another case is still that file's copy).
    std::string CopyOf(const std::string& path) const;
    // The record of which files the copies belong to.
    std::string ManifestPath() const;

    // Missing or a folder of its own: anything else (a link, a file) is never used.
    bool IsUsable() const;
    std::string UnsafeMessage() const;
    // The folder exists or has been made; else alerts why.
    bool MakeReady() const;

    // The names of the program's copies in it, sorted.
    std::vector<std::string> Copies() const;
    // Flushes the disc's file system, then removes every copy (each one logged) and the record,
    // and the folder when nothing else is left in it. False (alerted, naming what is left) when
    // the flush fails, and then nothing is removed, or when a file of the program's stays.
    bool DeleteCopies() const;

  private:
    FileSystem& m_Files;
    std::string m_Path;
};

}  // namespace dorvex
