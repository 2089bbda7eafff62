// The backup side of an engine's runs from backup, step by step: before the first file of a step
// moves, the backup's record of the step's files and the copies of its IFOs and BUPs; each VOB
// the pass moves into the backup folder; the bytes a repaired IFO will hold; once the step is
// done, what it left. Restore Backup and Delete Backup over the folder. It keeps which copies the
// current run made: a full-DVD run passes a title set's IFO (and VIDEO_TS.IFO) several times, and
// only the first copy holds the state before the run. Each call is given the backup folder and
// the step it is about; a failure or refusal is alerted and marked in the run's flags it was given.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/backup/BackupRestore.h"
#include "engine/backup/BackupStore.h"

namespace dorvex {

class BackupRecorder;
class FileSystem;

class BackupRun {
  public:
    // The flags of the run it works for that it sets: `failed` when a copy, the record or a
    // restore could not be made; `refused` when a restore refuses; `backupLeft` cleared when a
    // restore or delete did all it was asked (its caller sets it before it begins).
    struct Flags {
        std::atomic<uint8_t>& failed;
        std::atomic<uint8_t>& refused;
        std::atomic<uint8_t>& backupLeft;
    };

    BackupRun(FileSystem& files, Flags flags) : m_Files(files), m_Flags(flags) {}

    // A run begins (a title set's, or a whole DVD's): copies already in the folder are an
    // earlier run's.
    void StartRun() { m_CopiesThisRun.clear(); }
    // The files copied or moved into the backup folder during the current run. Copies that are
    // not in here are an earlier run's.
    const std::set<std::string>& CopiesThisRun() const { return m_CopiesThisRun; }

    // Before the first file of the step that begins with vobPath (menu: the menu domain's) moves:
    // the backup's record of the step's files (the VOBs the pass will move, when it moves any),
    // then the copies of its IFOs and BUPs, each flushed. Once per step; a second call adds
    // nothing. False, alerted and failed, when the record or a copy cannot be made.
    bool Begin(const BackupStore& store, const std::string& vobPath, bool menu, bool movesVobs);
    // Moves a VOB the pass is about to read into the backup folder, to `copy`; false, alerted,
    // when a copy is already there (it is never replaced) or the VOB cannot be moved.
    bool MoveIn(const BackupStore& store, const std::string& vob, std::string& copy);
    // Before a repaired IFO image replaces ifoPath and its BUP: the bytes they may then hold, in
    // the record. False, alerted and failed, when the record cannot be written.
    bool WillRepair(const BackupStore& store, const std::string& ifoPath, const uint8_t* image,
                    size_t size);
    // Once the step is done: what it left, in the backup's record.
    void Settle(const BackupStore& store, const std::string& vobPath, bool menu);

    // Restore Backup of the domains (several at once: a whole disc, in the order of a full-DVD
    // run): everything checked before the first file moves, one summary line. `force` goes on
    // over a backup whose record does not vouch for its copies or for the files they replace
    // (never over a link or what may not be changed). True when all of it was put back.
    bool Restore(const BackupStore& store, const std::vector<RestoreDomain>& domains, bool force);
    // What Restore would refuse, and why; nothing is changed or said.
    RestoreCheck CheckRestore(const BackupStore& store,
                              const std::vector<RestoreDomain>& domains) const;
    // Delete Backup: every copy of the program's in the folder, and the record.
    void Delete(const BackupStore& store);

  private:
    using Copies = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

    // An IFO and its BUP into the backup (or, made by an earlier step, kept), their copies'
    // bytes added to `copies`.
    bool BackUpIfoPair(const BackupStore& store, const std::string& ifoPath, BackupRecorder& record,
                       Copies& copies);

    FileSystem& m_Files;
    Flags m_Flags;
    std::set<std::string> m_CopiesThisRun;
};

}  // namespace dorvex
