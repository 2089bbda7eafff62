// Whether a copy in the backup and the file of the disc folder it would replace are what the
// backup's record says: the copy the original the run moved there, the file what the run left.
// Restore asks it of every file it would put back, and the check before a run of every copy of
// the title set it finds, to tell an earlier run on these files from another disc's backup.
#pragma once

#include <string>

#include "engine/backup/BackupManifest.h"

namespace dorvex {

class FileSystem;

enum class RecordVerdict {
    AsRecorded,   // both are what the record says (or absent, or not asked for)
    NoRecord,     // the record does not name the file
    CopyDiffers,  // the copy is not the original the run moved there
    FileDiffers,  // the file is not what the run left
    Unreadable,   // one of them cannot be read
};

struct RecordFinding {
    RecordVerdict verdict = RecordVerdict::AsRecorded;
    // The file in the disc folder was compared with what the run left and matched: the record
    // is of these files.
    bool fileMatched = false;
    std::string detail;  // for the user, when the verdict is not AsRecorded
};

// copy may be empty (a file the restore removes, or updates); checkCopy false takes the copy on
// trust (the undo of a run by the engine that made it).
RecordFinding VerifyAgainstRecord(FileSystem& files, const BackupManifest& manifest,
                                  const std::string& file, const std::string& copy, bool checkCopy);

}  // namespace dorvex
