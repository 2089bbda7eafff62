// The in-place journal: an in-place run stopped at any moment (killed, Ctrl-C, a failed write, a
// crash) is finished later by running it again, byte for byte as if it had never stopped.
//
// What holds at every moment. The pass writes each kept pack at or before the sector it was
// read from, in the same file, so a file being compacted is a finished prefix, then packs whose
// input was already read, then untouched input from the read position on. Every change to a VOB
// file (a write of the write-behind buffer, packs copied down from further on, a cut, a navpack
// whose relative pointers follow the removals) is preceded by a journal record, appended whole
// in one write before the change is issued, holding:
//   - what the change puts where: literal packs by their bytes, copied packs by their source
//     sector and, where the change itself may overwrite that source, by a fingerprint;
//   - the pass as it stood before the input pack being handled (m_PackStart), with every table
//     entry added since the previous record.
// A change issued while input pack r is handled writes below r's output sector, or r's own
// output when that lies below r; never pack r or anything after it, because a full buffer goes
// out before the next pack joins it, not with it. So when a run stops, every change before the
// last record's is complete, the last one is complete, partial or not begun, and the input from
// pack r on is untouched. Finishing does the last change again (literal packs written; each
// copied pack taken from where its fingerprint finds it: already in place, or still at its
// source, which a write going up the file reaches only after the pack's destination), restores
// the state and tables, and goes on from pack r, doing again what handling r had begun: the
// same pack copied to the same place, the same forward pointer set to the same value.
// After the pass the journal records its end; renaming the files in order is safe to repeat,
// each navpack's relative-pointer rewrite (which must not shift a pointer twice) is recorded
// before it is written, and the IFO repair starts over from the IFO as the run found it, which
// the journal holds. The journal goes only once everything is on disk.
//
// What is flushed when. A killed process loses nothing it wrote: the kernel keeps its writes,
// in order. A power cut loses what the kernel had not yet written, in any order. So the journal
// is flushed with its folder before the first change; at the end of the pass the VOB files and
// then the journal are flushed, and again before the IFO repair; the repaired IFOs replace the
// old ones whole and flushed; the journal is removed last. A power cut from the end of the pass
// on is therefore finished byte for byte. During the pass the writes since the journal's last
// flush may reach the disk in another order than they were made; the finishing run then redoes
// the last record that reached the disk, checks what its fingerprints cover, and says that the
// machine went down so that the result is checked (docs/reliability.md).
#include <cerrno>
#include <cstring>

#include "engine/VtsCleaner.h"
#include "engine/journal/JournalFile.h"
#include "engine/journal/JournalSummary.h"
#include "engine/journal/WriteRedo.h"
#include "ifo/IfoFile.h"
#include "ifo/VideoStandard.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

JournalOptions CVtsCleaner::CurrentJournalOptions() const {
    JournalOptions options;
    options.removeUnrefed = static_cast<uint8_t>(m_RemoveUnrefed != 0);
    options.remapVobIds = static_cast<uint8_t>(m_RemapVOBIDs != 0);
    options.resetIlvu = static_cast<uint8_t>(m_ResetIlvu != 0);
    options.fixPgcLbas = static_cast<uint8_t>(m_FixPGCLBAs != 0);
    return options;
}

bool CVtsCleaner::StartJournal() {
    const TitleSetFiles files = SetFiles();
    JournalHeader header;
    header.options = CurrentJournalOptions();
    header.menu = m_Menu;
    header.vobName = GetFileName(VobPathSnapshot());
    header.totalSectors = m_TotalSectors.load();
    for (const VobPart& part : files.Parts(m_Menu != 0)) {
        header.partNames.push_back(GetFileName(part.path));
        header.partSizes.push_back(m_Files.SizeBytes(part.path));
    }
    header.bootId = CurrentBootId();
    const std::string ifoPath = files.Ifo();
    header.ifoName = GetFileName(ifoPath);
    std::string error;
    if (!m_Files.ReadWhole(ifoPath, header.ifo, error)) {
        Alertf("Couldn't read %s: %s. Nothing was changed.", ifoPath.c_str(), error.c_str());
        m_Failed = 1;
        return false;
    }
    auto journal = std::make_unique<JournalFile>(m_Files);
    if (!journal->Create(JournalPath(), EncodeJournalHeader(header))) {
        Alertf(
            "%s. An in-place run keeps its journal there until it is done, so that it can be "
            "finished if it stops; nothing was changed. Free some space or make the folder "
            "writable, then run again.",
            journal->LastError().c_str());
        m_Failed = 1;
        return false;
    }
    m_Journal = std::move(journal);
    m_JournalSent = {};
    m_JournalRecords = 0;
    m_PointerNav = -1;
    CapturePassState(m_PackStart);
    m_InFile.SetWriteObserver(this);
    return true;
}

void CVtsCleaner::CapturePassState(PassState& s) const {
    s.vobDigit = static_cast<uint8_t>(m_Menu ? '0' : GetVobDigit(m_VobPath));
    s.fileSectors = m_FileSectors.load(std::memory_order_relaxed);
    s.readInFile = m_ReadInFile.load(std::memory_order_relaxed);
    s.writtenInFile = m_WrittenInFile;
    s.readTotal = m_ReadTotal.load(std::memory_order_relaxed);
    s.writtenTotal = m_WrittenTotal;
    s.prevNavInFile = m_PrevNavInFile;
    s.prevNav = m_PrevNav;
    s.prevNavFwd = m_PrevNavFwd;
    s.fwdAdjusted = m_FwdAdjusted;
    s.packsRemoved = m_PacksRemoved.load(std::memory_order_relaxed);
    s.navRemapped = m_NavRemapped.load(std::memory_order_relaxed);
    s.ilvuReset = m_IlvuReset;
    s.videoStandard = g_nVideoStandard;
    s.vobId = m_VobId;
    s.cellId = m_CellId;
    s.dropping = m_Dropping;
    s.haveKeptNav = m_HaveKeptNav;
    s.nextVobId = m_NextVobId;
    s.navCount = m_NavCount;
    s.mapCount = m_MapCount;
    s.cellCount = m_CellCount;
    s.removedRuns = m_Removed.RunCount();
    s.openCell = m_Cells[static_cast<size_t>(m_CellCount)];
    s.lastRun = s.removedRuns > 0 ? m_Removed.RunAt(s.removedRuns - 1) : RemovedRun{};
}

void CVtsCleaner::RestorePassState(const PassState& s) {
    if (!m_Menu) {
        SetVobPathDigit(static_cast<char>(s.vobDigit));
    }
    m_FileSectors = s.fileSectors;
    m_ReadInFile = s.readInFile;
    m_WrittenInFile = s.writtenInFile;
    m_ReadTotal = s.readTotal;
    m_WrittenTotal = s.writtenTotal;
    m_PrevNavInFile = s.prevNavInFile;
    m_PrevNav = s.prevNav;
    m_PrevNavFwd = s.prevNavFwd;
    m_FwdAdjusted = s.fwdAdjusted;
    m_PacksRemoved = s.packsRemoved;
    m_NavRemapped = s.navRemapped;
    m_IlvuReset = s.ilvuReset;
    g_nVideoStandard = s.videoStandard;
    m_VobId = s.vobId;
    m_CellId = s.cellId;
    m_Dropping = s.dropping;
    m_HaveKeptNav = s.haveKeptNav;
    m_NextVobId = s.nextVobId;
}

void CVtsCleaner::AdoptTables(const PassTables& t) {
    m_NavCount = static_cast<int32_t>(t.navOld.size());
    if (m_NavOld.size() < t.navOld.size()) {
        m_NavOld.resize(t.navOld.size());
        m_NavNew.resize(t.navOld.size());
        m_NavVcid.resize(t.navOld.size());
    }
    std::copy(t.navOld.begin(), t.navOld.end(), m_NavOld.begin());
    std::copy(t.navNew.begin(), t.navNew.end(), m_NavNew.begin());
    std::copy(t.navVcid.begin(), t.navVcid.end(), m_NavVcid.begin());

    m_MapCount = static_cast<int32_t>(t.map.size());
    if (m_VCIDMap.size() < t.map.size()) {
        m_VCIDMap.resize(t.map.size());
    }
    std::copy(t.map.begin(), t.map.end(), m_VCIDMap.begin());
    // Each new VOB ID hands out its cell IDs in turn from 1: the counters follow from the map.
    std::fill(m_CellCounters.begin(), m_CellCounters.end(), uint8_t{1});
    for (const VcidMapEntry& entry : t.map) {
        ++m_CellCounters[entry.newVobId];
    }

    // The last entry is the open cell.
    m_CellCount = t.cells.empty() ? 0 : static_cast<int32_t>(t.cells.size()) - 1;
    if (m_Cells.size() < t.cells.size() + 1) {
        m_Cells.resize(t.cells.size() + 1);
    }
    std::copy(t.cells.begin(), t.cells.end(), m_Cells.begin());

    m_Removed.Clear();
    for (const RemovedRun& run : t.removed) {
        m_Removed.AddRun(run);
    }
}

PassTablesView CVtsCleaner::TablesView() const {
    PassTablesView view;
    view.navOld = m_NavOld.data();
    view.navNew = m_NavNew.data();
    view.navVcid = m_NavVcid.data();
    view.map = m_VCIDMap.data();
    view.cells = m_Cells.data();
    view.removed = &m_Removed;
    return view;
}

bool CVtsCleaner::AppendRecord() {
    if (m_Journal->Append(m_Record)) {
        ++m_JournalRecords;
        return true;
    }
    Alertf("%s. The change was not made.", m_Journal->LastError().c_str());
    m_Failed = 1;
    return false;
}

bool CVtsCleaner::BeforeVobWrite(const CVobFile& file, const PendingVobWrite& write) {
    const std::string name = GetFileName(file.Path());
    WriteToRecord recorded;
    recorded.file = &name;
    recorded.sector = write.sector;
    recorded.literal = write.literal;
    recorded.literalPacks = write.literalPacks;
    recorded.copied = write.copied;
    recorded.copiedPacks = write.copiedPacks;
    recorded.copiedFrom = write.copiedFrom;
    m_Record.clear();
    if (m_PointerNav >= 0) {
        EncodePointerRecord(m_Record, m_PointerNav, recorded);
    } else {
        EncodePassRecord(m_Record, JournalRecordKind::PassWrite, m_PackStart, TablesView(),
                         m_JournalSent);
        EncodeWrite(m_Record, recorded);
    }
    return AppendRecord();
}

bool CVtsCleaner::BeforeVobTruncate(const CVobFile& file, int64_t sectors) {
    m_Record.clear();
    EncodePassRecord(m_Record, JournalRecordKind::PassTruncate, m_PackStart, TablesView(),
                     m_JournalSent);
    EncodeTruncate(m_Record, GetFileName(file.Path()), sectors);
    return AppendRecord();
}

bool CVtsCleaner::JournalPassDone() {
    CapturePassState(m_PackStart);
    m_Record.clear();
    EncodePassRecord(m_Record, JournalRecordKind::PassDone, m_PackStart, TablesView(),
                     m_JournalSent);
    return AppendPhaseEnd();
}

bool CVtsCleaner::JournalIfoRepair() {
    m_Record.clear();
    EncodeIfoRecord(m_Record);
    return AppendPhaseEnd();
}

bool CVtsCleaner::AppendPhaseEnd() {
    // The journal may say a phase is done only once the phase's writes are on disk, and the
    // record must be on disk before the next phase changes anything.
    std::string error;
    if (!m_Files.FlushFolder(SetFiles().Folder(), error)) {
        Alertf("Couldn't flush %s to disk: %s", SetFiles().Folder().c_str(), error.c_str());
        m_Failed = 1;
        return false;
    }
    if (!AppendRecord()) {
        return false;
    }
    if (!m_Journal->Sync()) {
        Alertf("%s", m_Journal->LastError().c_str());
        m_Failed = 1;
        return false;
    }
    return true;
}

void CVtsCleaner::EndJournal() {
    m_InFile.SetWriteObserver(nullptr);
    if (m_Journal == nullptr) {
        return;
    }
    std::unique_ptr<JournalFile> journal = std::move(m_Journal);
    // Stopped before its first change, a run leaves nothing to finish.
    if (RunInterrupted() && m_JournalRecords > 0) {
        journal->Close();
        m_JournalLeft = 1;
        return;
    }
    if (!journal->Remove()) {
        // The run itself is done either way; a journal still there is only finished again.
        const bool left = m_Files.KindOf(journal->Path()) != FileKind::Missing;
        Alertf("%s. The run is done%s.", journal->LastError().c_str(),
               left ? "; running it again removes the journal" : "");
        m_Failed = 1;
        m_JournalLeft = left ? 1 : 0;
    }
}

CVtsCleaner::JournalFound CVtsCleaner::FindJournal() const {
    switch (InspectJournal(m_Files, JournalPath()).state) {
        case JournalState::Missing:
            return JournalFound::None;
        case JournalState::Unstarted:
            return JournalFound::Unstarted;
        default:
            return JournalFound::Present;
    }
}

bool CVtsCleaner::RemoveUnstartedJournal() {
    const std::string path = JournalPath();
    Logf("%s was cut short as its run began, before that run changed anything: removing it.",
         path.c_str());
    std::string error;
    if (m_Files.Remove(path) != 0 || !m_Files.FlushFolder(GetFolder(path), error)) {
        Alertf("Couldn't remove %s: %s. Nothing was changed; remove it and run again.",
               path.c_str(), error.empty() ? strerror(errno) : error.c_str());
        m_Failed = 1;
        return false;
    }
    return true;
}

bool CVtsCleaner::RefusesForInterruptedRun(bool wholeFolder) {
    RunCheck check;
    if (FindJournal() == JournalFound::Present) {
        check = CheckInterruptedRun(false);
    } else if (wholeFolder) {
        const std::string folder = SetFiles().Folder();
        for (const std::string& name : m_Files.ListFiles(folder)) {
            if (!IsJournalFileName(name)) {
                continue;
            }
            const JournalSummary journal = InspectJournal(m_Files, folder + name);
            if (journal.state != JournalState::Unstarted) {
                const std::string setName = name.substr(0, name.find('_', 4));
                check = {RunRefusal::HalfCleaned,
                         HalfCleanedMessage(setName.substr(0, setName.find('.')), folder + name,
                                            journal) +
                             " Nothing was changed."};
                break;
            }
        }
    }
    if (!check.Refused()) {
        return false;
    }
    Alert(check.message.c_str());
    m_Refused = 1;
    return true;
}

RunCheck CVtsCleaner::CheckInterruptedRun(bool mayFinish) {
    const std::string path = JournalPath();
    const JournalSummary journal = InspectJournal(m_Files, path);
    const bool finishable = journal.state == JournalState::Readable && mayFinish && m_InPlace &&
                            journal.options == CurrentJournalOptions();
    if (finishable || journal.state == JournalState::Missing ||
        journal.state == JournalState::Unstarted) {
        return {};
    }
    const std::string setName = TitleSetName(std::max(0, TitleSetOf(VobPathSnapshot())));
    return {RunRefusal::HalfCleaned,
            HalfCleanedMessage(setName, path, journal) + " Nothing was changed."};
}

void CVtsCleaner::FinishInterruptedRun() {
    const std::string path = JournalPath();
    const std::string folder = SetFiles().Folder();
    const std::string setName = TitleSetName(std::max(0, TitleSetOf(VobPathSnapshot())));
    Logf("Finishing the interrupted in-place run of %s ...", setName.c_str());
    const auto fail = [&](const std::string& why) {
        Alertf("%s. The title set stays as the interrupted run left it.", why.c_str());
        m_Failed = 1;
        m_JournalLeft = 1;
        m_Phase = PhaseAborted;
    };

    auto journal = std::make_unique<JournalFile>(m_Files);
    std::vector<std::vector<uint8_t>> frames;
    JournalHeader header;
    if (!journal->Open(path, frames) || frames.empty() ||
        !DecodeJournalHeader(frames.front(), header)) {
        fail(journal->LastError().empty() ? path + " cannot be read" : journal->LastError());
        return;
    }
    if (!header.bootId.empty() && header.bootId != CurrentBootId()) {
        Logf(
            "The machine was restarted since the run stopped: writes it had not yet flushed may "
            "be lost. Check the result (dorvex-cli check) once this run is done.");
    }
    PassTables tables;
    JournalRecord last;
    PassState passState;
    bool passBegun = false;
    bool passDone = false;
    bool ifoRepair = false;
    int32_t nextPointerNav = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        if (!DecodeJournalRecord(frames[i], last, tables)) {
            fail(path + " is damaged (record " + std::to_string(i) + ")");
            return;
        }
        switch (last.kind) {
            case JournalRecordKind::PassWrite:
            case JournalRecordKind::PassTruncate:
                passState = last.state;
                passBegun = true;
                break;
            case JournalRecordKind::PassDone:
                passState = last.state;
                passBegun = true;
                passDone = true;
                break;
            case JournalRecordKind::PointerWrite:
                nextPointerNav = last.pointerNav + 1;
                break;
            case JournalRecordKind::IfoRepair:
                ifoRepair = true;
                break;
        }
    }

    // The change the last record announced may have been cut short, or not made at all.
    std::string error;
    bool redone = true;
    if (frames.size() > 1) {
        if (last.kind == JournalRecordKind::PassWrite ||
            last.kind == JournalRecordKind::PointerWrite) {
            redone = RedoWrite(m_Files, folder, last.write, error);
        } else if (last.kind == JournalRecordKind::PassTruncate) {
            redone = RedoTruncate(m_Files, folder, last.write.file, last.truncateSectors, error);
        }
    }
    if (!redone) {
        fail(error);
        return;
    }

    auto ifo = std::make_unique<CIfoFile>(std::string(), m_Files);
    ifo->LoadImage(JoinPath(folder, header.ifoName), header.ifo);
    m_TotalSectors = header.totalSectors;
    m_RemoveUnrefedRun = m_RemoveUnrefed;
    AllocateRunTables();
    ResetRunState();
    AdoptTables(tables);
    if (passBegun) {
        RestorePassState(passState);
    }
    m_Journal = std::move(journal);
    m_JournalRecords = static_cast<int32_t>(frames.size()) - 1;
    m_JournalSent.nav = m_NavCount;
    m_JournalSent.map = m_MapCount;
    m_JournalSent.cells = m_CellCount;
    m_JournalSent.removedRuns = std::max(0, m_Removed.RunCount() - 1);
    m_PointerNav = -1;

    if (ifoRepair) {
        OnVobPassDone();
        UpdateIfos(*ifo);
    } else if (passDone) {
        RepairAfterPass(*ifo, nextPointerNav);
    } else if (OpenPass()) {
        m_InFile.SetWriteObserver(this);
        // The file is part way through: it is read on from where the pass stood, with the
        // size it had when the pass opened it.
        if (passBegun) {
            m_FileSectors = passState.fileSectors;
            m_In->SetReadCursor(passState.readInFile);
        } else {
            m_ReadInFile = 0;
        }
        CapturePassState(m_PackStart);
        RunPassOnwards(*ifo);
    }
    EndJournal();
    ReleaseRunTables();
    if (!RunInterrupted()) {
        Logf("Done");
    }
}

}  // namespace dorvex
