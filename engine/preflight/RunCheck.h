// Why a run does not start: what it checks before it changes anything (Preflight.h).
#pragma once

#include <string>

namespace dorvex {

enum class RunRefusal {
    None,
    BackupFolder,   // the backup folder is a link or a file
    EarlierBackup,  // the backup folder holds this title set from an earlier run
    Ifo,            // the title set's IFO is missing or unusable
    ShortStream,    // the VOB files are shorter than the IFO says, or do not belong to it
    Unreadable,     // a file the check needs cannot be read
    HalfCleaned,    // an interrupted in-place run left its journal: only that run may go on
};

struct RunCheck {
    RunRefusal refusal = RunRefusal::None;
    std::string message;  // what is wrong and what to do, for the user
    bool Refused() const { return refusal != RunRefusal::None; }
};

}  // namespace dorvex
