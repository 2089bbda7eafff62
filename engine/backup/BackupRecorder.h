// What a run from backup writes into the backup's record (BackupManifest.h) as it goes: before
// the first file moves, the files it will move or copy; before a repaired IFO replaces the old
// one, the bytes it will hold; once it is done, what it left. Each step reads the record afresh
// and writes it whole only when it changed.
#pragma once

#include <string>

#include "engine/backup/BackupManifest.h"
#include "engine/backup/BackupStore.h"

namespace dorvex {

class BackupRecorder {
  public:
    BackupRecorder(FileSystem& files, const BackupStore& store);

    // False, with the reason, when a record is there that cannot be read: it is never replaced.
    bool Load(std::string& error);
    // A file the run is about to copy or move into the backup: its copy will hold `copy`, and
    // the file is `now` until the run changes it.
    void WillCopy(const std::string& file, const FileState& copy, const FileState& now);
    // A file whose copy is already there (an earlier step of the same run made it, or the
    // video manager's copy, kept from the first run): it is changed again, starting from what
    // it holds now. False when a file cannot be read.
    bool Keeps(const std::string& file, const std::string& copy, std::string& error);
    // A file about to be replaced whole by bytes of this state.
    void MayBecome(const std::string& file, const FileState& state);
    // The run is done with the file: what it holds now is what the run left. A VOB without a
    // record is one the run renamed to that name.
    bool Left(const std::string& file, std::string& error);
    // Writes the record when anything changed.
    bool Save(Durability durability, std::string& error);

  private:
    FileSystem& m_Files;
    const BackupStore m_Store;
    BackupManifest m_Manifest;
    bool m_Changed = false;
};

}  // namespace dorvex
