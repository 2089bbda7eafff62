// The pack-by-pack pass over a title set's VOB stream, and the tidying of its files afterwards.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/IlvuPointers.h"
#include "engine/Navpack.h"
#include "engine/PackInfo.h"
#include "engine/VtsCleaner.h"
#include "engine/ilvu/IfoCells.h"
#include "engine/journal/JournalSummary.h"
#include "engine/journal/PassJournal.h"
#include "ifo/IfoFile.h"
#include "support/BigEndian.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

constexpr int32_t kPackSize = pack::kPackSize;
constexpr int32_t kBlankMessageLimit = 30;

// A rewrite of relative pointers cannot be done twice: recorded, each batch of rewritten
// navpacks is recorded by its bytes before it is written, and written before the next one is
// recorded.
class PointerRecording final : public VobWriteObserver {
  public:
    explicit PointerRecording(PassRecorder* recorder) : m_Recorder(recorder) {}
    // The navpack the rewrite goes on from after the batch now waiting.
    int32_t nextNav = 0;

    bool BeforeVobWrite(CVobFile& file, const PendingVobWrite& write) override {
        return file.SyncIssued() && m_Recorder->PointerBatch(file, write, nextNav);
    }
    bool BeforeVobTruncate(CVobFile&, int64_t) override { return false; }

  private:
    PassRecorder* m_Recorder;
};

}  // namespace

int32_t CVtsCleaner::s_BlankReplacedInPlace = 0;
int32_t CVtsCleaner::s_BlankSkippedInPlace = 0;

void CVtsCleaner::FailIo(const char* what, const CVobFile& file) {
    Alertf("Couldn't %s %s: %s", what, file.Path().c_str(), file.LastError().c_str());
    m_Failed = 1;
}

int32_t CVtsCleaner::OpenPassFiles() {
    m_FilePart = m_Menu ? kMenuVobPart : GetVobDigit(VobPathSnapshot()) - '0';
    if (m_InPlace) {
        if (OpenInput(false) != 0) {
            return 1;
        }
        m_Out = m_In;
        return 0;
    }
    if (OpenInput(true) != 0) {
        return 1;
    }
    return OpenOutput();
}

bool CVtsCleaner::ClosePassFiles() {
    bool ok = true;
    if (m_Out != nullptr && m_Out != m_In && m_Out->IsOpen() && !m_Out->Close()) {
        FailIo("write", *m_Out);
        ok = false;
    }
    if (m_In != nullptr && m_In->IsOpen() && !m_In->Close()) {
        FailIo(m_InPlace ? "write" : "close", *m_In);
        ok = false;
    }
    m_In = nullptr;
    m_Out = nullptr;
    return ok;
}

bool CVtsCleaner::CloseFinishedFile() {
    // A file that ends before the size it had when it was opened was cut by someone else while
    // the run read it: what is missing cannot be cleaned, and the run stops.
    if (m_In != nullptr && m_ReadInFile.load() < m_FileSectors.load()) {
        Alertf("Couldn't read %s: it was cut short during the run (%d of %d sectors left)",
               m_In->Path().c_str(), m_ReadInFile.load(), m_FileSectors.load());
        m_Failed = 1;
        ClosePassFiles();
        return false;
    }
    if (m_InPlace && m_In != nullptr && m_WrittenInFile != m_ReadInFile &&
        !m_In->TruncateTo(m_WrittenInFile)) {
        FailIo("truncate", *m_In);
        ClosePassFiles();
        return false;
    }
    return ClosePassFiles();
}

bool CVtsCleaner::AdvanceToNextFile() {
    for (;;) {
        if (!CloseFinishedFile()) {
            return false;
        }
        std::string next = VobPathSnapshot();
        if (!NextVobFile(next, true)) {
            if (static_cast<uint32_t>(m_ReadTotal.load()) < m_TotalSectors.load()) {
                Alertf(
                    "Couldn't read the rest of the stream after %s: %s; its files held %u "
                    "sectors when the run began, %d were there to read",
                    VobPathSnapshot().c_str(), DescribeShortFile().c_str(), m_TotalSectors.load(),
                    m_ReadTotal.load());
                m_Failed = 1;
                return false;
            }
            int32_t lastFwd = m_WrittenTotal - m_PrevNav - 1;
            if (m_HaveKeptNav && m_PrevNavFwd != lastFwd) {
                PatchNavpackFwd(m_PrevNav, lastFwd);
            }
            return false;
        }
        SetVobPath(next);
        Logf("Processing %s", next.c_str());
        if (OpenPassFiles() != 0) {
            if (!m_Abort.load()) {
                m_Failed = 1;
            }
            return false;
        }
        int32_t got = m_In->ReadNext(m_Data);
        m_WrittenInFile = 0;
        m_ReadInFile = 0;
        if (got == kPackSize) {
            return true;
        }
        if (got < 0) {
            FailIo("read", *m_In);
            ClosePassFiles();
            return false;
        }
        // A file of less than one pack: processing its stale remainder would corrupt the
        // stream, so the file just counts as finished.
        Alert("Couldn't read m_Data");
    }
}

void CVtsCleaner::ProcessVts() {
    m_Pause = 0;
    if (!m_InFullDvd) {
        m_BackupRun.StartRun();
    }
    CloseLogFile();
    if (OpenLogFile(m_LogPath, "a", m_LogFollowsLinks != 0)) {
        WriteLogFileRaw(m_Banner + "\n");
    }
    if (!m_Menu) {
        SetVobPathDigit('1');
    }
    m_TotalSectors = GetTotalSectors();
    if (TookUpJournal() || !OpenCheckedPass()) {
        return;
    }
    m_RemoveUnrefedRun = m_RemoveUnrefed;

    std::unique_ptr<CIfoFile> ifo = LoadIfo();
    if (!ifo->m_bLoaded) {
        Logf("Warning: Couldn't load IFO file..");
    }
    AllocateRunTables();
    ResetRunState();
    std::unique_ptr<PassJournal> journal;
    if (m_InPlace && m_KeepJournal && (journal = StartJournal()) == nullptr) {
        m_Phase = PhaseAborted;
        ClosePassFiles();
        ReleaseRunTables();
        CloseLogFile();
        return;
    }
    const std::string vob = VobPathSnapshot();
    Logf("Processing %s -- %s", vob.c_str(), m_InPlace ? "in-place processing" : "from backup");
    Logf("Remove unrefed is %s", m_RemoveUnrefed ? "ON" : "OFF");
    Logf("Reset ILVU Ptrs is %s", m_ResetIlvu ? "ON" : "OFF");
    {
        RecordingScope recording(m_Recorder, m_InFile, journal.get());
        RunPassOnwards(*ifo);
    }
    if (journal != nullptr) {
        EndJournal(*journal);
    }

    Logf("Done processing");
    Logf("Cleaning up");
    if (!m_Menu) {
        SetVobPathDigit('1');
    }
    ReleaseRunTables();
    ifo.reset();
    Logf("Done");
    CloseLogFile();
}

bool CVtsCleaner::TookUpJournal() {
    const JournalState journal =
        m_KeepJournal ? InspectJournal(m_Files, JournalPath()).state : JournalState::Missing;
    const bool present = journal != JournalState::Missing && journal != JournalState::Unstarted;
    if (m_InPlace && present) {
        if (!Refuses()) {
            FinishInterruptedRun();
        }
        CloseLogFile();
        return true;
    }
    if (journal == JournalState::Unstarted && !RemoveUnstartedJournal(m_Files, JournalPath())) {
        m_Failed = 1;
        CloseLogFile();
        return true;
    }
    return false;
}

bool CVtsCleaner::OpenCheckedPass() {
    // From backup the first file moves as the pass opens it, so the run is checked before; in
    // place opening changes nothing, and a run that waits for its file checks it once there.
    if (!m_InPlace && Refuses()) {
        return false;
    }
    if (!OpenPass()) {
        return false;
    }
    if (m_InPlace && Refuses()) {
        ClosePassFiles();
        return false;
    }
    return true;
}

bool CVtsCleaner::Refuses() {
    const RunCheck check = CheckBeforeRun();
    if (!check.Refused()) {
        return false;
    }
    Alert(check.message.c_str());
    m_Refused = 1;
    m_Phase = PhaseAborted;
    CloseLogFile();
    return true;
}

bool CVtsCleaner::OpenPass() {
    if ((!m_InPlace && !BeginBackup(true)) || OpenPassFiles() != 0) {
        if (!m_Abort.load()) {
            m_Failed = 1;
            m_Phase = PhaseAborted;
        }
        ClosePassFiles();
        return false;
    }
    return true;
}

void CVtsCleaner::RunPassOnwards(CIfoFile& ifo) {
    m_Phase = PhaseVobPass;
    PassPacks(ifo);
    Logf(
        "Done with VOB files. %d navpack pointers adjusted, %d packs removed, %d navpack "
        "remapped, %d navpacks ILVU flags reset",
        m_FwdAdjusted, m_PacksRemoved.load(), m_NavRemapped.load(), m_IlvuReset);
    ClosePassFiles();
    FinishPass(ifo);
}

void CVtsCleaner::PassPacks(CIfoFile& ifo) {
    // A failed backup copy of an IFO stops the run before any pack is touched.
    while (!m_Failed.load() && WaitWhilePaused()) {
        if (m_Recorder != nullptr) {
            m_Recorder->PackStarts();
        }
        // The pack is looked at where the read-ahead buffer holds it; only a navpack, which the
        // pass rewrites, is copied out.
        const uint8_t* pack = nullptr;
        const int32_t got = m_In->ReadNextView(pack);
        if (got < 0) {
            FailIo("read", *m_In);
            break;
        }
        if (got < kPackSize) {
            if (!AdvanceToNextFile()) {
                break;
            }
            pack = m_Data;
        }
        ProcessPackAt(ifo, pack);
        if (m_Failed.load()) {
            break;
        }
        ++m_ReadInFile;
        ++m_ReadTotal;
    }
}

void CVtsCleaner::FinishPass(CIfoFile& ifo) {
    if (RunInterrupted()) {
        m_Phase = PhaseAborted;
        return;
    }
    // Every pack is read: what follows (tidying the files, the relative pointers of every kept
    // navpack, the repair) shows as the IFO phase, not as a pass stuck at its last percent.
    m_Phase = PhaseIfoProcessing;
    if (m_Recorder != nullptr && !m_Recorder->PassDone()) {
        m_Failed = 1;
        m_Phase = PhaseAborted;
        return;
    }
    RepairAfterPass(ifo, 0);
}

void CVtsCleaner::RepairAfterPass(CIfoFile& ifo, int32_t firstPointerNav) {
    m_Phase = PhaseIfoProcessing;
    TidyVobFiles();
    if (!m_Failed.load() && !m_Removed.Empty()) {
        FixRelativePointers(ifo, firstPointerNav);
    }
    if (!m_Failed.load() && m_Recorder != nullptr && !m_Recorder->RepairBegins()) {
        m_Failed = 1;
    }
    if (m_Failed.load()) {
        m_Phase = PhaseAborted;
        return;
    }
    OnVobPassDone();
    UpdateIfos(ifo);
}

void CVtsCleaner::ProcessPackAt(CIfoFile& ifo, const uint8_t* pack) {
    CPackInfo info;
    info.Classify(pack, m_VobId, m_CellId);
    if (g_nVideoStandard == kStandardUnknown && info.m_nType == PackVideo) {
        info.DetectVideoStandard(pack);
    }
    if (OpenCell().vobId != m_VobId || OpenCell().cellId != m_CellId) {
        OnNewVcid(ifo);
    }

    const bool isNav = info.m_nType == PackNav;
    if (m_Dropping) {
        if (isNav) {
            AppendNavpack(m_ReadTotal, m_WrittenTotal, PackVcid(m_VobId, m_CellId));
        }
        RemovePack();
        return;
    }
    if (info.m_nType == PackBlank) {
        if (m_RemoveUnrefedRun) {
            SkipBlankPack();
        } else {
            StuffBlankPack();
        }
        return;
    }

    bool navChanged = false;
    if (isNav) {
        if (pack != m_Data) {
            memcpy(m_Data, pack, kPackSize);
            pack = m_Data;
        }
        if (!KeepNavpack(navChanged)) {
            return;
        }
    }
    // An unchanged pack that moves is written from where the read-ahead buffer holds it, never
    // copied through the write-behind buffer: from backup file to file, in place to its earlier
    // position in the same file. In place a pack that neither moves nor changes stays untouched.
    const bool moves = !m_InPlace || m_WrittenInFile != m_ReadInFile;
    bool written = true;
    if (!isNav && moves) {
        written = m_Out->CopyPackFrom(*m_In, m_ReadInFile, m_WrittenInFile);
    } else if (moves || navChanged) {
        written = m_Out->WriteAt(m_WrittenInFile, pack);
    }
    if (!written) {
        FailIo("write", *m_Out);
        return;
    }
    ++m_WrittenInFile;
    ++m_WrittenTotal;
}

void CVtsCleaner::OnNewVcid(CIfoFile& ifo) {
    Logf("Found VCID %d/%d at LBA %d (%d out)", m_VobId, m_CellId, m_ReadInFile.load(),
         m_WrittenInFile);
    CellTableEntry& open = OpenCell();
    // The all-zero entry of a fresh pass and the entry of a dropped cell are simply reused.
    if (open.vobId != 0 && !m_Dropping) {
        open.lastLba = m_WrittenTotal - 1;
        GetMapping(open.vobId, open.cellId, open.vobId, open.cellId);
        CloseOpenCell();
        if (m_CellCount == kCellCapacity) {
            Alert("Too many cells!");
        }
    }
    OpenCell() = {m_VobId, m_CellId, m_WrittenTotal, 0};

    m_Dropping = 0;
    if (ifo.m_bLoaded && !ifo.IsVcidReferenced(m_VobId, m_CellId, m_Menu != 0)) {
        Logf("VCID %d/%d is unreferenced...", m_VobId, m_CellId);
        if (m_RemoveUnrefed) {
            m_Dropping = 1;
        }
    }
    if (!m_Dropping && !IsInMap(m_VobId, m_CellId)) {
        const int32_t mapped = AddToMap(m_VobId, m_CellId);
        if (mapped != PackVcid(m_VobId, m_CellId)) {
            Logf("Remapping %d/%d to %d/%d", m_VobId, m_CellId, mapped / 256, mapped % 256);
        }
    }
}

void CVtsCleaner::RemovePack() {
    m_Removed.Remove(m_ReadTotal);
    ++m_PacksRemoved;
}

void CVtsCleaner::SkipBlankPack() {
    if (!m_InPlace || s_BlankSkippedInPlace < kBlankMessageLimit) {
        Logf("Skipping blank pack at LBA %d", m_ReadInFile.load());
    }
    if (m_InPlace && s_BlankSkippedInPlace < kBlankMessageLimit) {
        ++s_BlankSkippedInPlace;
    }
    RemovePack();
    OnBlankPack(true);
}

void CVtsCleaner::StuffBlankPack() {
    if (!m_InPlace) {
        Logf("Replacing blank pack at LBA %d with stuffing pack", m_ReadInFile.load());
    }
    if (!m_Out->WriteAt(m_WrittenInFile, m_Stuffing)) {
        FailIo("write", *m_Out);
        return;
    }
    OnBlankPack(false);
    if (m_InPlace && s_BlankReplacedInPlace < kBlankMessageLimit) {
        ++s_BlankReplacedInPlace;
        Logf("Replacing blank pack at LBA %d with stuffing pack", m_ReadInFile.load());
    }
    ++m_WrittenInFile;
    ++m_WrittenTotal;
}

bool CVtsCleaner::KeepNavpack(bool& changed) {
    AppendNavpack(m_ReadTotal, m_WrittenTotal, PackVcid(m_VobId, m_CellId));
    if (m_HaveKeptNav) {
        CorrectPreviousFwd();
        if (m_Failed.load()) {
            return false;
        }
    }
    m_PrevNavInFile = m_WrittenInFile;
    m_PrevNav = m_WrittenTotal;
    m_HaveKeptNav = 1;

    const uint32_t newLba = static_cast<uint32_t>(m_WrittenTotal);
    const uint32_t oldPciLba = ReadBE32(m_Data, pack::kPciNavLba);
    const uint32_t oldDsiLba = ReadBE32(m_Data, pack::kDsiNavLba);
    WriteBE32(m_Data, pack::kPciNavLba, newLba);
    WriteBE32(m_Data, pack::kDsiNavLba, newLba);
    m_PrevNavFwd = static_cast<int32_t>(ReadBE32(m_Data, pack::kDsiVobuEnd));

    uint16_t newVobId = 0;
    uint8_t newCellId = 0;
    const bool remapped = GetMapping(m_VobId, m_CellId, newVobId, newCellId) != 0;
    if (remapped) {
        ++m_NavRemapped;
    }
    WriteBE16(m_Data, pack::kDsiVobId, newVobId);
    m_Data[pack::kDsiCellId] = newCellId;
    // A navpack outside any block may still carry angle destinations (category 0): in place it
    // is written whenever a byte is cleared, as from backup, while the counter keeps counting
    // non-zero categories.
    const bool ilvuCleared =
        m_ResetIlvu && !navpack::FieldIsClear(m_Data, navpack::Field::IlvuAngle);
    if (m_ResetIlvu) {
        ResetIlvu();
    }
    changed = oldPciLba != newLba || oldDsiLba != newLba || remapped || ilvuCleared;
    return true;
}

void CVtsCleaner::CorrectPreviousFwd() {
    const int32_t correct = m_WrittenTotal - m_PrevNav - 1;
    // The previous navpack lies in an earlier output file exactly when its run-relative LBA is
    // below the first LBA of the current output file.
    const int32_t currentFileStart = m_WrittenTotal - m_WrittenInFile;
    if (m_PrevNav < currentFileStart) {
        if (m_PrevNavFwd != correct) {
            Logf("Adjusting Fwd pointer in previous VOB at LBA %d", m_PrevNavInFile);
            if (m_Menu) {
                Alert("Trying to adjust previous file, but in menu domain!");
            }
            PatchNavpackFwd(m_PrevNav, correct);
            ++m_FwdAdjusted;
        }
        return;
    }
    const int32_t inFile = m_WrittenInFile - m_PrevNavInFile - 1;
    if (m_PrevNavFwd == inFile) {
        return;
    }
    uint8_t* scratch = m_Data + kPackSize;
    if (!m_Out->ReadAt(m_PrevNavInFile, scratch)) {
        FailIo("read", *m_Out);
        return;
    }
    WriteBE32(scratch, pack::kDsiVobuEnd, static_cast<uint32_t>(inFile));
    if (!m_Out->WriteAt(m_PrevNavInFile, scratch)) {
        FailIo("write", *m_Out);
        return;
    }
    Logf("Adjusting Fwd pointer at LBA %d", m_PrevNavInFile);
    ++m_FwdAdjusted;
}

void CVtsCleaner::PatchNavpackFwd(int32_t lba, int32_t value) {
    std::string target = VobPathSnapshot();
    int64_t inFile = lba;
    if (!m_Menu) {
        const std::vector<VobPart> parts = SetFiles().TitleParts();
        const VobPart* part = PartAt(parts, lba);
        if (part == nullptr) {
            Alert("Couln't find the right file to update last navpack");
            return;
        }
        target = part->path;
        inFile = lba - part->firstSector;
    }
    CVobFile file(m_Files);
    if (!file.Open(target, OpenMode::Update)) {
        Alert("Couldn't open VOB to update last navpack");
        return;
    }
    uint8_t* scratch = m_Data + kPackSize;
    if (!file.ReadAt(inFile, scratch)) {
        FailIo("read", file);
        file.Close();
        return;
    }
    WriteBE32(scratch, pack::kDsiVobuEnd, static_cast<uint32_t>(value));
    // The patch is made again from any later checkpoint, but only if it is on disk before one:
    // recorded runs flush it at once.
    if (!file.WriteAt(inFile, scratch) || (m_Recorder != nullptr && !file.Sync()) ||
        !file.Close()) {
        FailIo("write", file);
    }
}

void CVtsCleaner::FixRelativePointers(CIfoFile& ifo, int32_t firstNav) {
    const COldStreamLayout layout = OldLayout(m_ReadTotal.load());
    const CIlvuPointers ilvuPointers(m_Removed, layout, ilvu::IfoCellsOf(ifo, m_Menu != 0));
    uint8_t* scratch = m_Data + kPackSize;
    int32_t adjusted = 0;
    int32_t nav = firstNav;
    // The files are numbered without gaps by now; the menu domain has just the one.
    for (const VobPart& part : SetFiles().Parts(m_Menu != 0)) {
        if (nav >= m_NavCount) {
            break;
        }
        if (part.sectors == 0) {
            continue;
        }
        CVobFile file(m_Files);
        if (!file.Open(part.path, OpenMode::Update)) {
            FailIo("open", file);
            return;
        }
        PointerRecording recording(m_Recorder);
        file.SetWriteObserver(m_Recorder != nullptr ? &recording : nullptr);
        for (; nav < m_NavCount; ++nav) {
            if (m_Removed.IsRemoved(m_NavOld[static_cast<size_t>(nav)])) {
                continue;
            }
            const int64_t inFile = m_NavNew[static_cast<size_t>(nav)] - part.firstSector;
            if (inFile >= part.sectors) {
                break;
            }
            if (!file.ReadAt(inFile, scratch)) {
                FailIo("read", file);
                file.Close();
                return;
            }
            const bool pointers = RewriteRelativePointers(scratch, nav, m_Removed, layout);
            if (!ilvuPointers.Rewrite(scratch, nav) && !pointers) {
                continue;
            }
            if (!file.WriteAt(inFile, scratch)) {
                FailIo("write", file);
                file.Close();
                return;
            }
            recording.nextNav = nav + 1;
            ++adjusted;
        }
        if (!file.Close()) {
            FailIo("write", file);
            return;
        }
    }
    Logf("Relative pointers adjusted in %d navpacks", adjusted);
}

bool CVtsCleaner::ResetIlvu() {
    const uint16_t category = ReadBE16(m_Data, pack::kDsiIlvuCategory);
    navpack::ClearField(m_Data, navpack::Field::IlvuAngle);
    if (category != 0) {
        ++m_IlvuReset;
        return true;
    }
    return false;
}

void CVtsCleaner::TidyVobFiles() {
    const std::string vob = VobPathSnapshot();
    if (m_Menu) {
        if (m_Files.IsEmptyOrMissing(vob)) {
            if (m_Files.Exists(vob)) {
                Logf("%s is empty... removing.", GetBaseName(vob).c_str());
            }
            m_Files.Remove(vob);
        }
        return;
    }

    const std::optional<int32_t> titleSet = VobTitleSetNumber(GetBaseName(vob));
    if (!titleSet || *titleSet > kLastTitleSet) {
        Alert("Problem while checking file sizes");
        return;
    }
    const TitleSetFiles files = SetFiles();
    int32_t target = kFirstTitleVobPart;
    for (int32_t part = kFirstTitleVobPart; part <= kLastTitleVobPart; ++part) {
        const std::string source = files.Vob(part);
        const std::string renamed = files.Vob(target);
        if (m_Files.IsEmptyOrMissing(source)) {
            if (m_Files.Exists(source)) {
                Logf("%s is empty... removing.", GetBaseName(source).c_str());
                m_Files.Remove(source);
            }
            continue;
        }
        if (source != renamed) {
            Logf("Renaming %s to %s", GetBaseName(source).c_str(), GetBaseName(renamed).c_str());
            if (m_Files.Rename(source, renamed) != 0) {
                Alertf("Couldn't rename %s to %s: %s", source.c_str(), renamed.c_str(),
                       strerror(errno));
                m_Failed = 1;
                return;
            }
        }
        ++target;
    }
}

}  // namespace dorvex
