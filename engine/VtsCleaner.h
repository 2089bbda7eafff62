// The engine: a pass model (PassModel.h: the cursor and tables of the VOB pass) with the options,
// paths and run control one cleaning run of a title set (or of one menu VOB) needs, and the
// operations that run it. Fields are public; the dialog reads and writes some of them directly.
// Processing runs on a worker thread; the flags and counters that the dialog thread reads or
// writes meanwhile are atomics.
//
// Where the work lies: VobPass.cpp follows every pack through the pass; IfoRepair.cpp repairs the
// IFOs after it; FullDvd.cpp walks a whole disc; PassFiles.cpp opens the pass's files and loads
// and saves its IFOs; ResumableRun.cpp starts, ends and finishes an in-place run's journal
// (journal/); the checks before a run are preflight/. The backup side of a run from backup (the
// record and the copies, each VOB moved into the backup folder) and Restore and Delete Backup
// are backup/BackupRun.h, which the engine only calls; the backup folder itself is backup/.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/PackLayout.h"
#include "engine/PassModel.h"
#include "engine/PassRecorder.h"
#include "engine/VobIo.h"
#include "engine/backup/BackupRestore.h"
#include "engine/backup/BackupRun.h"
#include "engine/backup/BackupStore.h"
#include "engine/journal/JournalRecords.h"
#include "engine/preflight/Preflight.h"
#include "support/DiskFlush.h"
#include "support/FileSystem.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

class CIfoFile;
class PassJournal;
struct InterruptedRun;

enum RunPhase : int32_t {
    PhaseIdle = 0,
    PhaseVobPass = 1,
    PhaseIfoProcessing = 2,
    PhaseIfoWriting = 3,
    PhaseDone = 4,
    PhaseAborted = 5,
};

class CVtsCleaner : public PassModel {
  public:
    // Every file of a run is read and written through `files`: the disk, or a dry run's overlay.
    explicit CVtsCleaner(FileSystem& files = TheRealFileSystem());
    virtual ~CVtsCleaner();
    CVtsCleaner(const CVtsCleaner&) = delete;
    CVtsCleaner& operator=(const CVtsCleaner&) = delete;

    FileSystem& m_Files;

    // --- Options (0 or 1) ---
    int32_t m_RemoveUnrefed = 0;
    int32_t m_RemoveUnrefedRun = 0;
    int32_t m_InPlace = 0;
    int32_t m_RemapVOBIDs = 1;
    int32_t m_ResetIlvu = 0;
    int32_t m_WaitForFile = 0;
    int32_t m_BackupAbove = 0;
    int32_t m_FixPGCLBAs = 1;
    // Clean a title set whose VOB files are shorter than its IFO says (or do not match it).
    int32_t m_AllowShort = 0;
    // Full DVD: a domain whose VOB is missing gets its tables emptied even when they still
    // describe sectors (otherwise they are left as they are: a partial copy keeps its IFO).
    int32_t m_PruneMissingVobs = 0;
    // 0: in-place runs keep no journal (tests of what an unjournaled run would leave).
    int32_t m_KeepJournal = 1;
    std::string m_Banner = "Dorvex -- 1.4";

    // --- Run control, shared with the dialog thread ---
    std::atomic<uint8_t> m_Abort{0};
    std::atomic<uint8_t> m_Running{0};
    std::atomic<int32_t> m_Phase{PhaseIdle};
    std::atomic<uint8_t> m_Pause{0};
    // Set when a read, write, seek, truncation, rename or IFO save failed during a run; the run
    // then stops as an abort would, and counts as interrupted.
    std::atomic<uint8_t> m_Failed{0};
    // Set when the run would not start (RunCheck): nothing was changed, nothing is restored.
    std::atomic<uint8_t> m_Refused{0};
    // Set when an in-place run ended early and kept its journal: running it again finishes it.
    std::atomic<uint8_t> m_JournalLeft{0};
    // Set when the last Restore or Delete Backup refused, or left undone part of what it was
    // asked to do (it has said what).
    std::atomic<uint8_t> m_BackupLeft{0};
    // Pause after entering each IFO phase, so that the dialog's progress display shows it. The
    // dialog asks for it (RunOptions); nothing else shows the phases long enough to need it.
    int32_t m_IfoPauseMs = 0;

    // --- Paths ---
    // Written only through SetVobPath / SetVobPathDigit (under m_VobPathLock) so that the dialog
    // thread can take a consistent copy with VobPathSnapshot while a run steps the digit.
    std::string m_VobPath;
    std::string m_LogPath;
    // 0 for a log at the default place, opened only when it is not a link.
    int32_t m_LogFollowsLinks = 1;
    std::atomic<uint32_t> m_TotalSectors{0};
    // Each file GetTotalSectors counted, with its sectors then.
    std::vector<std::pair<std::string, uint32_t>> m_FilesAtStart;

    // --- Buffers ---
    // Two packs back to back: the current pack, and scratch for reading back a navpack.
    alignas(64) uint8_t m_Data[2 * pack::kPackSize] = {};
    uint8_t m_Stuffing[pack::kPackSize] = {};
    CVobFile m_InFile;
    CVobFile m_OutFile;
    CVobFile* m_In = nullptr;  // in place both point at m_InFile
    CVobFile* m_Out = nullptr;
    uint8_t m_Menu = 0;

    // In-place blank-pack messages logged over the program's life; each kind stops at 30.
    static int32_t s_BlankReplacedInPlace;
    static int32_t s_BlankSkippedInPlace;

    // --- Engine operations the dialog may specialise ---
    virtual int32_t Open(const std::string& path);
    virtual void OnNewVcid(CIfoFile& ifo);
    // Restore Backup of the current domain (a title set's titles from their first VOB).
    virtual void RestoreBackup() {
        if (!m_Menu) {
            SetVobPathDigit('1');
        }
        RestoreDomains({{VobPathSnapshot(), m_Menu != 0}}, false);
    }
    virtual void DeleteBackup() {
        m_BackupLeft = 1;
        // The backup may hold the only sound copy of a title set that run was moving.
        if (!RefusesForInterruptedRun(true)) {
            m_BackupRun.Delete(Backup());
        }
    }
    virtual void ProcessVts();
    virtual void ProcessFullDvd();
    // Told of each blank pack the pass removes (or replaces with stuffing), and, before the IFO
    // repair, that the VOB files are final while the pass's tables still hold. A dry run records
    // through them what a run would do; a real run does nothing more.
    virtual void OnBlankPack(bool /*removed*/) {}
    virtual void OnVobPassDone() {}
    // Told of each full-DVD step whose VOB is missing while its IFO is there: whether the IFO is
    // updated, and how many sectors the domain's tables described.
    virtual void OnMissingVob(bool /*updated*/, uint32_t /*describedSectors*/) {}

    // --- Title-set files ---
    // The sectors of the pass's files; keeps each file's sectors for DescribeShortFile.
    uint32_t GetTotalSectors();
    // Which file holds fewer sectors than when the run began, for a pass that read fewer than
    // GetTotalSectors counted: "VTS_01_2.VOB held 10 sectors when the run began, 2 now".
    std::string DescribeShortFile() const;
    bool NextVobFile(std::string& path, bool skipEmpty);
    void SetVobPath(const std::string& path);
    void SetVobPathDigit(char digit);
    std::string VobPathSnapshot() const;
    // The files of the title set (or video manager) that m_VobPath belongs to.
    TitleSetFiles SetFiles() const { return TitleSetFiles(m_Files, VobPathSnapshot()); }
    // The journal of the current step (which need not exist).
    std::string JournalPath() const { return SetFiles().Journal(m_Menu != 0); }

    // --- Cell table and VCIDMap ---
    int32_t AddToMap(uint16_t vobId, uint8_t cellId) {
        return VcidMap::AddToMap(vobId, cellId, m_RemapVOBIDs != 0);
    }

    // --- Checks before a run (preflight/) ---
    // The step the engine is opened on, with its options, as the checks see it.
    RunStep Step() const;
    // Why the current step must not run (checked again by every ProcessVts), or no refusal.
    RunCheck CheckBeforeRun() const;
    // Restore and delete wait until an interrupted in-place run is finished: of this title
    // set, or of any in the disc folder (wholeFolder). Alerts why, and what to do.
    bool RefusesForInterruptedRun(bool wholeFolder);
    // The options an in-place run's journal must have been written with for this run to finish it.
    JournalOptions CurrentJournalOptions() const;

    // --- Backups and file opening ---
    BackupStore Backup() const {
        return BackupStore(m_Files, VobPathSnapshot(), m_BackupAbove != 0);
    }
    // The backup folder, with a trailing separator; never made here.
    std::string BackupFolder() const { return Backup().Path(); }
    // Where the copy of a file of the disc folder goes.
    std::string GetBackupPath(const std::string& path) const {
        return BackupStore(m_Files, path, m_BackupAbove != 0).CopyOf(path);
    }
    int32_t OpenInput(bool fromBackup);
    int32_t OpenOutput();
    std::unique_ptr<CIfoFile> LoadIfo();
    // Restore Backup of several domains at once (a whole disc, in the order of a full-DVD run):
    // everything checked before the first file moves, one summary line. `force` goes on over a
    // backup whose record does not vouch for its copies or for the files they replace (never
    // over a link or what may not be changed). True when all of it was put back.
    bool RestoreDomains(const std::vector<RestoreDomain>& domains, bool force) {
        m_BackupLeft = 1;
        return !RefusesForInterruptedRun(domains.size() > 1) &&
               m_BackupRun.Restore(Backup(), domains, force);
    }
    // What RestoreDomains would refuse, and why; nothing is changed or said.
    RestoreCheck CheckRestore(const std::vector<RestoreDomain>& domains) const {
        return m_BackupRun.CheckRestore(Backup(), domains);
    }

    // --- VOB pass ---
    // One pack of the pass: m_Data, or (ProcessPackAt) a pack held elsewhere, which stays
    // unchanged; a navpack is copied into m_Data to be rewritten.
    void ProcessPack(CIfoFile& ifo) { ProcessPackAt(ifo, m_Data); }
    void ProcessPackAt(CIfoFile& ifo, const uint8_t* pack);
    void PatchNavpackFwd(int32_t lba, int32_t value);
    bool ResetIlvu();
    // False when the file could not be opened or cut.
    static bool TruncateVob(const std::string& path, int32_t sectors);
    void TidyVobFiles();
    // After a pass that removed packs: the DSI pointers of every kept navpack that count sectors
    // relative to it, and its ILVU and angle fields, follow the removals (one read and at most
    // one write per navpack); the angle tables follow the angle blocks of the IFO's program
    // chains.
    void FixRelativePointers(CIfoFile& ifo, int32_t firstNav = 0);

    // --- IFO repair, full DVD ---
    int32_t UpdateIfos(CIfoFile& ifo);
    void UpdateIfoOnly();

    // True when the last run ended early (abort, failure or refusal).
    bool RunInterrupted() const {
        return m_Abort.load() != 0 || m_Failed.load() != 0 || m_Refused.load() != 0;
    }

  private:
    // Alert naming the file and its system error, and mark the run failed.
    void FailIo(const char* what, const CVobFile& file);
    bool WaitWhilePaused();

    // The in-place journal (ResumableRun.cpp): made before the first change of an in-place
    // run (null, alerted, when it cannot be); ended with the run; an interrupted one finished.
    std::unique_ptr<PassJournal> StartJournal();
    void EndJournal(PassJournal& journal);
    void FinishInterruptedRun();
    // Its steps: the journal read and checked against the files (refused, with nothing changed,
    // when it does not describe them) and its last change done again; the model rebuilt; the
    // run taken up where it stopped.
    bool ResumeInterruptedRun(PassJournal& journal, InterruptedRun& run, CIfoFile& ifo);
    void ContinueInterruptedRun(InterruptedRun& run, CIfoFile& ifo);

    // The steps of ProcessVts: the step checked (when it must not run, alerts why and marks it
    // refused), the pass's files opened (false, as a failure, when they cannot be), the loop
    // over every pack, and what follows a complete pass.
    bool Refuses();
    // An in-place run's journal found before the pass: the interrupted run is finished, or a
    // journal its run never finished making goes. True when ProcessVts has nothing more to do.
    bool TookUpJournal();
    bool OpenCheckedPass();
    bool OpenPass();
    void PassPacks(CIfoFile& ifo);
    // The pass from where it stands, then everything after it.
    void RunPassOnwards(CIfoFile& ifo);
    void FinishPass(CIfoFile& ifo);
    // After a complete pass: tidying, relative pointers (from a navpack on), the IFO repair.
    void RepairAfterPass(CIfoFile& ifo, int32_t firstPointerNav);
    // What happens to one pack that is not copied as it is.
    void RemovePack();
    void SkipBlankPack();
    void StuffBlankPack();
    // Records a kept navpack (in m_Data) and rewrites its numbers; false when the run failed.
    bool KeepNavpack(bool& changed);
    int32_t OpenPassFiles();
    bool ClosePassFiles();
    // Closes (and in place cuts) the file whose last pack was read; false when it was cut short
    // meanwhile or cannot be cut or closed.
    bool CloseFinishedFile();
    // Closes (and in place cuts) the finished file and opens the next one of the set with its
    // first pack in m_Data; false when the set is done or the run cannot go on.
    bool AdvanceToNextFile();
    void CorrectPreviousFwd();
    // Saves an IFO image (with its .BUP); on failure alerts and marks the run failed.
    bool SaveIfoCopy(CIfoFile& ifo, const std::string& target, Durability durability);
    // How the repaired IFOs are saved. From backup the originals are in the backup folder,
    // flushed before anything here changed, and the cleaned VOB data is not flushed either:
    // flushing the repaired IFO would only make the run wait until the disk has taken all of
    // that data (measured: 1 s of a 2.5 s run on 4 GiB). In place there is nothing to fall back
    // to.
    Durability RepairedIfoDurability() const {
        return m_InPlace ? Durability::Flushed : Durability::Cached;
    }
    // From backup, before the first file of the current step moves (BackupRun::Begin).
    bool BeginBackup(bool movesVobs) {
        return m_BackupRun.Begin(Backup(), VobPathSnapshot(), m_Menu != 0, movesVobs);
    }
    bool RunFullDvdStep(const std::string& vobPath, bool menu);

    // Whoever records the pass while it runs (an in-place run's journal), or null.
    PassRecorder* m_Recorder = nullptr;
    // The backup side of runs from backup, and Restore and Delete Backup; it keeps which copies
    // the current run made.
    BackupRun m_BackupRun{m_Files, {m_Failed, m_Refused, m_BackupLeft}};
    bool m_InFullDvd = false;

    mutable std::mutex m_VobPathLock;
};

}  // namespace dorvex
