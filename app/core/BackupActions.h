// Restore Backup and Delete Backup, the same in every front end: the disc folder held while they
// work, what the backup folder holds for them, their refusals and the action itself. A front end
// opens the VOB, asks the user and shows what these say.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/VtsCleaner.h"
#include "support/FolderLock.h"

namespace dorvex {

// The backup folder of the opened VOB and the copies in it (only names the program gives its
// copies). A backup folder that is a link or a file is unsafe: nothing is done in it.
struct BackupListing {
    std::string folder;
    std::vector<std::string> files;
    bool unsafe = false;
};
BackupListing ListBackup(CVtsCleaner& engine);

// True when a backup file name belongs to the title set of vobPath (VTS_xx_* for a title set,
// VIDEO_TS.* for the video manager), in any case.
bool BelongsToTitleSet(const std::string& vobPath, const std::string& fileName);

enum class BackupActionKind { Restore, Delete };

// What an action would touch, or why it will not go on.
struct BackupCheck {
    bool refused = false;
    // A restore the backup's record does not vouch for (no record, or a copy or a file not what
    // it says): done only when the user asks for it again (--force, a second question).
    bool forceable = false;
    // Why, for the user; empty when the engine has said it.
    std::string message;
    // The copies it would put back or delete, and where they are.
    size_t copies = 0;
    std::string folder;
    // What a restore undoes: "the DVD", or the title set as the engine's messages name it.
    std::string what;
};

class BackupAction {
  public:
    // On the engine's open VOB, its options in. A restore of the whole disc puts back every
    // title set of its folder; a delete always empties the whole backup folder.
    BackupAction(CVtsCleaner& engine, BackupActionKind kind, bool wholeDisc);

    // Holds the disc folder until the action is gone. False, with what to tell the user, when a
    // run or another command holds it.
    bool Lock(std::string& refusal);
    // After Lock, for a front end that says what it is about to do: the copies, and the
    // refusals (an unsafe backup folder, a half-cleaned title set, nothing to restore or delete,
    // and what a restore finds before anything moves: a backup its record does not vouch for, a
    // link, what may not be changed).
    BackupCheck Check();
    // After Lock: the action, with Ctrl-C and SIGTERM held off until it is done, since half a
    // restore is worse than a late exit. A restore goes in the order of a full-DVD run, checks
    // everything first (force: goes on over a forceable refusal), reports each file and removes
    // the backup folder when it leaves it empty. True when the action did all it was asked (a
    // delete: every file of the program's is gone); the engine says why not.
    bool Perform(bool force = false);

  private:
    // What a restore undoes: the opened domain, or every step of a full-DVD run of the folder.
    std::vector<RestoreDomain> Domains() const;

    CVtsCleaner& m_Engine;
    const BackupActionKind m_Kind;
    const bool m_WholeDisc;
    FolderLock m_Lock;
};

}  // namespace dorvex
