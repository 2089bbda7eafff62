// What a finishing run checks before it changes anything, so that a journal is used only on the
// files it describes: each VOB part is the file the run was changing (the same file, a regular
// file, not a link), of the size the run left, holding the packs the journal's last pass record
// fingerprinted (the last packs the run had finished, the input it had not read yet, the other
// parts' ends). A part may be longer than the run left it: a cut it announced that the disk had
// not kept when the power went.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/journal/JournalRecords.h"
#include "support/FileSystem.h"

namespace dorvex {

// A pack as checked: a navpack without the fields a run may still change in it afterwards (its
// forward pointer, set once the next navpack is known; the relative pointers, rewritten after
// the pass), so that a check made during the pass holds until the run is done.
uint64_t CheckedFingerprint(const uint8_t* pack);

// Where part `part` of the header is now: under its name, or, once the tidy step may have
// renamed the parts, under whichever of the title set's names holds the same file. Empty when
// it is gone.
std::string PartPath(FileSystem& files, const std::string& folder, const JournalHeader& header,
                     size_t part, bool mayBeRenamed);

// Empty when the files are what the record says the run left; else what was found, for the user.
// `renamed`: the pass is done, so the parts may carry their new names.
std::string CheckFilesAgainst(FileSystem& files, const std::string& folder,
                              const JournalHeader& header, const JournalRecord& record,
                              bool renamed);

// Makes again the cuts the record announced that the disk did not keep: every part longer than
// the record says is cut to that size. False, with the reason, when one cannot be cut.
bool RedoCuts(FileSystem& files, const std::string& folder, const JournalHeader& header,
              const JournalRecord& record, bool renamed, std::string& error);

// The moves a checkpoint holds, pack by pack: already made (the destination holds the pack),
// still to make (the source still does), or lost (neither: between two flushes the disk kept a
// later write over the source and not the move itself). Empty when none is lost; else which
// packs, for the user. Nothing is written.
std::string FindLostMoves(FileSystem& files, const std::string& folder, const JournalHeader& header,
                          const std::vector<RecordedMove>& moves, bool renamed);

// Makes the moves not yet made, in the order the run made them (each reads its source before a
// later one writes over it). False, with the reason, when a file cannot be read or written.
bool RedoMoves(FileSystem& files, const std::string& folder, const JournalHeader& header,
               const std::vector<RecordedMove>& moves, bool renamed, std::string& error);

}  // namespace dorvex
