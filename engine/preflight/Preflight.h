// What a run checks before it changes anything, so that a title set it cannot clean whole is
// left exactly as it is: no interrupted in-place run waiting to be finished (or this is that
// run), a backup folder of its own that holds nothing of this title set from an earlier run, an
// IFO it can use, and a stream as long as the IFO says, whose VOBUs start where the IFO says.
#pragma once

#include <string>

#include "engine/preflight/RunCheck.h"

namespace dorvex {

class CVtsCleaner;
class CIfoFile;

class Preflight {
  public:
    // The step the engine is opened on, with its options.
    explicit Preflight(const CVtsCleaner& engine) : m_Engine(engine) {}

    RunCheck BeforeRun() const;
    // Whether a run may finish the interrupted one the step's journal records (or why not); a
    // command that cannot finish it (mayFinish false) is always refused.
    RunCheck InterruptedRun(bool mayFinish) const;
    // Restore and Delete Backup wait until an interrupted in-place run is finished: of this
    // title set, or of any in the disc folder (wholeFolder).
    RunCheck BeforeBackupCommand(bool wholeFolder) const;

  private:
    RunCheck BackupFolder() const;
    RunCheck Ifo() const;
    RunCheck StreamAgainstIfo(CIfoFile& ifo) const;
    RunCheck StreamLength(CIfoFile& ifo) const;
    RunCheck VobuStarts(CIfoFile& ifo) const;
    std::string DomainName() const;

    const CVtsCleaner& m_Engine;
};

}  // namespace dorvex
