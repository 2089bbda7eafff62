// What a run checks before it changes anything, so that a title set it cannot clean whole is
// left exactly as it is: no interrupted in-place run waiting to be finished (or this is that
// run), a backup folder of its own that holds nothing of this title set from an earlier run, an
// IFO it can use whose program chains a disc can hold, and a stream as long as the IFO says, whose
// VOBUs start where the IFO says.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "engine/backup/BackupStore.h"
#include "engine/journal/JournalRecords.h"
#include "engine/preflight/RunCheck.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

class CIfoFile;

// One step of a run as the checks see it: its files and the options that decide what it does.
struct RunStep {
    FileSystem& files;
    std::string vobPath;  // the step's first VOB
    bool menu = false;
    bool inPlace = false;
    bool allowShort = false;
    BackupStore backup;
    JournalOptions options;  // what a journal must have been written with to be finished
    // Copies made by the run this step belongs to (a full-DVD run's earlier steps).
    const std::set<std::string>* copiesThisRun = nullptr;

    TitleSetFiles Files() const { return TitleSetFiles(files, vobPath); }
    std::string Journal() const { return Files().Journal(menu); }
};

class Preflight {
  public:
    explicit Preflight(const RunStep& step) : m_Step(step) {}

    RunCheck BeforeRun() const;
    // Whether a run may finish the interrupted one the step's journal records (or why not); a
    // command that cannot finish it (mayFinish false) is always refused.
    RunCheck InterruptedRun(bool mayFinish) const;
    // Restore and Delete Backup wait until an interrupted in-place run is finished: of this
    // title set, or of any in the disc folder (wholeFolder).
    RunCheck BeforeBackupCommand(bool wholeFolder) const;

  private:
    RunCheck BackupFolder() const;
    // Copies of the step's title set in the backup that this run did not make.
    std::vector<std::string> EarlierCopies() const;
    bool MadeThisRun(const std::string& copy) const;
    // Why copies from an earlier run stop this one: whether the backup's record says they are of
    // these files (and that run finished) or not, and so what undoes them safely.
    RunCheck EarlierBackup(const std::vector<std::string>& copies, const std::string& what) const;
    // The refusal when the copies are not of these files (or nothing tells); `running` when
    // the run that made them did not finish.
    RunCheck ForeignBackup(const std::vector<std::string>& copies, const std::string& what,
                           bool& running) const;
    RunCheck Ifo() const;
    RunCheck PgcStructure(CIfoFile& ifo) const;
    RunCheck StreamAgainstIfo(CIfoFile& ifo) const;
    RunCheck StreamLength(CIfoFile& ifo) const;
    RunCheck VobuStarts(CIfoFile& ifo) const;
    std::string DomainName() const;

    const RunStep& m_Step;
};

}  // namespace dorvex
