// The engine: everything one cleaning run of a title set (or of one menu VOB) needs. Fields are
// public; the dialog reads and writes some of them directly. Processing runs on a worker thread;
// the flags and counters that the dialog thread reads or writes meanwhile are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/PackLayout.h"
#include "engine/RelativePointers.h"
#include "engine/VobIo.h"
#include "engine/journal/JournalRecords.h"
#include "ifo/CellRecords.h"
#include "support/DiskFlush.h"
#include "support/FileSystem.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

class CIfoFile;
class JournalFile;

enum RunPhase : int32_t {
    PhaseIdle = 0,
    PhaseVobPass = 1,
    PhaseIfoProcessing = 2,
    PhaseIfoWriting = 3,
    PhaseDone = 4,
    PhaseAborted = 5,
};

// Why a run does not start: what it checks before it changes anything (RunChecks.cpp).
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

// Stated capacities: an alert is raised once when one is first reached; the tables then grow.
inline constexpr int32_t kNavpackCapacity = 65536;
inline constexpr int32_t kCellCapacity = 16384;
inline constexpr int32_t kVcidMapCapacity = 16384;
inline constexpr int32_t kVobIdCount = 65536;

class CVtsCleaner : private VobWriteObserver {
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

    // --- Paths ---
    // Written only through SetVobPath / SetVobPathDigit (under m_VobPathLock) so that the dialog
    // thread can take a consistent copy with VobPathSnapshot while a run steps the digit.
    std::string m_VobPath;
    std::string m_LogPath;
    // 0 for a log at the default place, opened only when it is not a link.
    int32_t m_LogFollowsLinks = 1;

    // --- Counters and positions ---
    int32_t m_FwdAdjusted = 0;
    std::atomic<int32_t> m_PacksRemoved{0};
    std::atomic<int32_t> m_NavRemapped{0};
    int32_t m_IlvuReset = 0;
    std::atomic<int32_t> m_FileSectors{1};
    std::atomic<uint32_t> m_TotalSectors{0};
    std::atomic<int32_t> m_ReadInFile{0};
    int32_t m_WrittenInFile = 0;
    std::atomic<int32_t> m_ReadTotal{0};
    int32_t m_WrittenTotal = 0;
    int32_t m_PrevNavInFile = 0;
    int32_t m_PrevNav = 0;
    int32_t m_PrevNavFwd = -1;
    uint16_t m_VobId = 0;
    uint8_t m_CellId = 0;

    // --- Buffers and tables ---
    // Two packs back to back: the current pack, and scratch for reading back a navpack.
    alignas(64) uint8_t m_Data[2 * pack::kPackSize] = {};
    uint8_t m_Stuffing[pack::kPackSize] = {};
    std::vector<VcidMapEntry> m_VCIDMap;  // m_MapCount entries in use
    int32_t m_MapCount = 0;
    std::vector<uint8_t> m_CellCounters;  // next cell ID per new VOB ID, all 65536 VOB IDs
    uint16_t m_NextVobId = 1;
    std::vector<CellTableEntry> m_Cells;  // entry m_CellCount is the open one
    int32_t m_CellCount = 0;
    std::vector<int32_t> m_NavOld;
    std::vector<int32_t> m_NavNew;
    std::vector<int32_t> m_NavVcid;  // packed VOB/cell ID each navpack carried in the input
    int32_t m_NavCount = 0;
    CRemovedSectors m_Removed;  // input sectors the pass dropped
    uint8_t m_Dropping = 0;
    CVobFile m_InFile;
    CVobFile m_OutFile;
    CVobFile* m_In = nullptr;  // in place both point at m_InFile
    CVobFile* m_Out = nullptr;
    uint8_t m_Menu = 0;
    uint8_t m_HaveKeptNav = 0;  // a navpack has been kept in this run
    // Pause after entering each IFO phase, so that the dialog's progress display shows it. The
    // dialog asks for it (RunOptions); nothing else shows the phases long enough to need it.
    int32_t m_IfoPauseMs = 0;

    // In-place blank-pack messages logged over the program's life; each kind stops at 30.
    static int32_t s_BlankReplacedInPlace;
    static int32_t s_BlankSkippedInPlace;

    // --- Engine operations the dialog may specialise ---
    virtual int32_t Open(const std::string& path);
    virtual void OnNewVcid(CIfoFile& ifo);
    virtual void RestoreBackup();
    virtual void DeleteBackup();
    // Restore and delete wait until an interrupted in-place run is finished: of this title
    // set, or of any in the disc folder (wholeFolder). Alerts why, and what to do.
    bool RefusesForInterruptedRun(bool wholeFolder);
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
    void ResetRunState();
    uint32_t GetTotalSectors();
    bool NextVobFile(std::string& path, bool skipEmpty);
    void SetVobPath(const std::string& path);
    void SetVobPathDigit(char digit);
    std::string VobPathSnapshot() const;
    // The files of the title set (or video manager) that m_VobPath belongs to.
    TitleSetFiles SetFiles() const { return TitleSetFiles(m_Files, VobPathSnapshot()); }

    // --- Cell table and VCIDMap ---
    bool IsInMap(uint16_t vobId, uint8_t cellId) const;
    int32_t AddToMap(uint16_t vobId, uint8_t cellId);
    int32_t GetMapping(uint16_t vobId, uint8_t cellId, uint16_t& newVobId, uint8_t& newCellId);

    // --- In-place journal (InPlaceJournal.cpp) ---
    // 0: in-place runs keep no journal (tests of what an unjournaled run would leave).
    int32_t m_KeepJournal = 1;
    // The journal of the current step (which need not exist).
    std::string JournalPath() const { return SetFiles().Journal(m_Menu != 0); }

    // --- Checks before a run ---
    // Why the current step must not run (checked again by every ProcessVts), or no refusal.
    RunCheck CheckBeforeRun();

    // --- Backups and file opening ---
    // The backup folder, with a trailing separator; never made here.
    std::string BackupFolder();
    // The backup folder a file of the disc folder goes to: beside it, or one level up.
    std::string BackupFolderOf(const std::string& path);
    std::string GetBackupPath(const std::string& path);
    void RestoreFile(const std::string& path);
    int32_t OpenInput(bool fromBackup);
    int32_t OpenOutput();
    std::unique_ptr<CIfoFile> LoadIfo();

    // --- VOB pass ---
    // One pack of the pass: m_Data, or (ProcessPackAt) a pack held elsewhere, which stays
    // unchanged; a navpack is copied into m_Data to be rewritten.
    void ProcessPack(CIfoFile& ifo);
    void ProcessPackAt(CIfoFile& ifo, const uint8_t* pack);
    void PatchNavpackFwd(int32_t lba, int32_t value);
    bool ResetIlvu();
    // False when the file could not be opened or cut.
    static bool TruncateVob(const std::string& path, int32_t sectors);
    void TidyVobFiles();
    // After a pass that removed packs: the DSI pointers of every kept navpack that count sectors
    // relative to it follow the removals (one read and at most one write per navpack).
    void FixRelativePointers(int32_t firstNav = 0);

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

    // The in-place journal: what an interrupted run needs to be finished (InPlaceJournal.cpp).
    bool Journaling() const { return m_Journal != nullptr; }
    // Before the first change of an in-place run; false (alerted) when it cannot be written.
    bool StartJournal();
    // The pass between two packs, and back.
    void CapturePassState(PassState& state) const;
    void RestorePassState(const PassState& state);
    void AdoptTables(const PassTables& tables);
    PassTablesView TablesView() const;
    bool BeforeVobWrite(const CVobFile& file, const PendingVobWrite& write) override;
    bool BeforeVobTruncate(const CVobFile& file, int64_t sectors) override;
    bool AppendRecord();
    // Phase ends, each on disk with what came before it.
    bool JournalPassDone();
    bool JournalIfoRepair();
    // Appends m_Record once everything written so far is on disk, and flushes it.
    bool AppendPhaseEnd();
    // Removes the journal of a run that did everything; keeps it (m_JournalLeft) otherwise.
    void EndJournal();
    // The run the journal at JournalPath() records, from where it stopped.
    void FinishInterruptedRun();
    // A run killed while it made its journal changed nothing: that journal holds no header.
    enum class JournalFound : uint8_t { None, Unstarted, Present };
    JournalFound FindJournal() const;
    // Removes such a journal so the run starts afresh; false (alerted) when it cannot.
    bool RemoveUnstartedJournal();
    // Whether this run may finish the interrupted one the journal records (or why not); a
    // command that cannot finish it (mayFinish false) is always refused.
    RunCheck CheckInterruptedRun(bool mayFinish = true);
    JournalOptions CurrentJournalOptions() const;

    // From backup: the backup folder exists or can be made; else alerts with the reason.
    bool BackupFolderReady();
    std::string UnsafeBackupFolderMessage();
    RunCheck CheckBackupFolder();
    RunCheck CheckStreamAgainstIfo(CIfoFile& ifo);
    // True when the backup folder holds copies of other title sets than this one (the video
    // manager's IFO and BUP belong to none).
    bool BackupHoldsOtherSets(int32_t titleSet);
    // VIDEO_TS.IFO after a title set went back: its copy when no other set stays cleaned, else
    // the IFO on disk with the title-set sectors of the files as they are.
    void RestoreVideoManagerIfo(int32_t restoredSet);
    void RestoreTitleVobs();
    // The steps of ProcessVts: the pass's files opened (false, as a failure, when they cannot
    // be), the per-run tables, the loop over every pack, and what follows a complete pass.
    // Checks the step (CheckBeforeRun); when it must not run, alerts why and marks it refused.
    bool Refuses();
    bool OpenPass();
    void AllocateRunTables();
    void ReleaseRunTables();
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
    // Closes (and in place cuts) the finished file and opens the next one of the set with its
    // first pack in m_Data; false when the set is done or the run cannot go on.
    bool AdvanceToNextFile();
    void AppendNavpack();
    void CorrectPreviousFwd();
    // Saves an IFO image (with its .BUP); on failure alerts and marks the run failed.
    bool SaveIfoCopy(CIfoFile& ifo, const std::string& target, Durability durability);
    // How the repaired IFOs are saved: flushed only when no backup holds the originals.
    Durability RepairedIfoDurability() const;
    // The backup copy of an IFO, made once per run.
    bool BackUpIfoOnce(CIfoFile& ifo, const std::string& path);
    void PhasePause() const;
    bool RunFullDvdStep(const std::string& vobPath, bool menu);
    // The run's log file, opened for appending when no step holds it open: every line of a
    // full-DVD run reaches it, not only those of the VOB passes.
    void KeepRunLogOpen() const;
    // Sectors that the current domain's tables in the IFO at ifoPath describe (0 when none, or
    // when the IFO is refused).
    uint32_t MissingDomainSectors(const std::string& ifoPath);
    bool WaitWhilePaused();

    std::unique_ptr<JournalFile> m_Journal;
    // The pass as it stood before the pack being handled: a write issued while handling it is
    // recorded with this state, from which the pack is handled again.
    PassState m_PackStart;
    JournalCursor m_JournalSent;
    int32_t m_JournalRecords = 0;   // records the journal holds
    std::vector<uint8_t> m_Record;  // reused for every record
    // While FixRelativePointers writes a navpack: its index (its writes are PointerWrite records).
    int32_t m_PointerNav = -1;

    // Files copied into the backup folder during the current run. A full-DVD run passes a
    // title set's IFO (and VIDEO_TS.IFO) several times; only the first copy holds the state
    // before the run, so later steps keep it. Copies that are not in here are an earlier run's.
    std::set<std::string> m_CopiesThisRun;
    bool m_InFullDvd = false;

    mutable std::mutex m_VobPathLock;
};

}  // namespace dorvex
