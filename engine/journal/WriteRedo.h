// Doing again the write or cut the journal's last record describes, whatever part of it reached
// the file before the run was stopped.
#pragma once

#include <string>

#include "engine/journal/JournalRecords.h"
#include "support/FileSystem.h"

namespace dorvex {

// Literal packs are written again. A copied pack whose source the write itself may have
// overwritten is taken from wherever its fingerprint says the right bytes are: already in
// place, or still at the source; when neither holds them, the pack is lost and `error` says
// which. The other copied packs are copied again from their untouched sources.
bool RedoWrite(FileSystem& files, const std::string& folder, const RecordedWrite& write,
               std::string& error);
bool RedoTruncate(FileSystem& files, const std::string& folder, const std::string& file,
                  int64_t sectors, std::string& error);

}  // namespace dorvex
