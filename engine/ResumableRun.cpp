// The engine's side of an in-place run that may be interrupted: the journal is made before the
// first change, ended with the run, and an interrupted run is finished by the same command run
// again. What the journal holds and why that suffices: engine/journal/PassJournal.h.
#include <cerrno>
#include <cstring>

#include "engine/VtsCleaner.h"
#include "engine/journal/JournalSummary.h"
#include "engine/journal/PassJournal.h"
#include "ifo/IfoFile.h"
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

std::unique_ptr<PassJournal> CVtsCleaner::StartJournal() {
    const TitleSetFiles files = SetFiles();
    JournalHeader header;
    header.options = CurrentJournalOptions();
    header.menu = m_Menu;
    header.vobName = GetFileName(VobPathSnapshot());
    header.totalSectors = m_TotalSectors.load();
    for (const VobPart& part : files.Parts(m_Menu != 0)) {
        header.parts.push_back(
            {GetFileName(part.path), m_Files.SizeBytes(part.path), m_Files.IdentityOf(part.path)});
    }
    header.bootId = CurrentBootId();
    const std::string ifoPath = files.Ifo();
    header.ifoName = GetFileName(ifoPath);
    std::string error;
    if (!m_Files.ReadWhole(ifoPath, header.ifo, error)) {
        Alertf("Couldn't read %s: %s. Nothing was changed.", ifoPath.c_str(), error.c_str());
        m_Failed = 1;
        return nullptr;
    }
    auto journal = std::make_unique<PassJournal>(m_Files, *this);
    if (!journal->Create(JournalPath(), header)) {
        Alertf(
            "%s. An in-place run keeps its journal there until it is done, so that it can be "
            "finished if it stops; nothing was changed. Free some space or make the folder "
            "writable, then run again.",
            journal->LastError().c_str());
        m_Failed = 1;
        return nullptr;
    }
    return journal;
}

void CVtsCleaner::EndJournal(PassJournal& journal) {
    const PassJournal::Ending ending = journal.End(RunInterrupted());
    if (ending.failed) {
        m_Failed = 1;
    }
    m_JournalLeft = ending.left ? 1 : 0;
}

void CVtsCleaner::FinishInterruptedRun() {
    const std::string setName = TitleSetName(std::max(0, TitleSetOf(VobPathSnapshot())));
    Logf("Finishing the interrupted in-place run of %s ...", setName.c_str());
    PassJournal journal(m_Files, *this);
    InterruptedRun run;
    auto ifo = std::make_unique<CIfoFile>(std::string(), m_Files);
    if (!ResumeInterruptedRun(journal, run, *ifo)) {
        return;
    }
    m_TotalSectors = run.header.totalSectors;
    m_RemoveUnrefedRun = m_RemoveUnrefed;
    AllocateRunTables();
    ResetRunState();
    // A run stopped before its pass changed anything starts it afresh.
    if (run.hasPassRecord) {
        AdoptPass(std::move(run.tables), run.lastPass.at);
        if (!m_Menu) {
            SetVobPathDigit(static_cast<char>('0' + m_FilePart));
        }
    }
    {
        RecordingScope recording(m_Recorder, m_InFile, &journal);
        ContinueInterruptedRun(run, *ifo);
    }
    EndJournal(journal);
    ReleaseRunTables();
    if (!RunInterrupted()) {
        Logf("Done");
    }
}

bool CVtsCleaner::ResumeInterruptedRun(PassJournal& journal, InterruptedRun& run, CIfoFile& ifo) {
    const std::string folder = SetFiles().Folder();
    const std::string path = JournalPath();
    // Nothing is changed until the journal is shown to describe these very files.
    std::string found;
    if (!journal.Resume(path, run)) {
        found = journal.LastError();
    } else if (ifo.LoadImage(JoinPath(folder, run.header.ifoName), run.header.ifo),
               !ifo.m_bLoaded) {
        found = path + " holds an IFO that cannot be used (" + ifo.LoadError() + ")";
    } else {
        found = CheckInterruptedRunFiles(m_Files, folder, run);
    }
    if (!found.empty()) {
        Alertf(
            "Couldn't finish the interrupted in-place run of %s: %s. Nothing was changed. If "
            "the title set's files were replaced since (copied back from a source, or "
            "another disc's), %s does not belong to them: move it away and clean them "
            "afresh. If the half-cleaned files were moved or changed by mistake, put them "
            "back as the run left them and run it again.",
            TitleSetName(std::max(0, TitleSetOf(VobPathSnapshot()))).c_str(), found.c_str(),
            GetFileName(path).c_str());
        m_Refused = 1;
        m_JournalLeft = 1;
        m_Phase = PhaseAborted;
        return false;
    }
    std::string error;
    if (!RedoLastChange(m_Files, folder, run, error)) {
        Alertf("%s. The title set stays as the interrupted run left it.", error.c_str());
        m_Failed = 1;
        m_JournalLeft = 1;
        m_Phase = PhaseAborted;
        return false;
    }
    return true;
}

void CVtsCleaner::ContinueInterruptedRun(InterruptedRun& run, CIfoFile& ifo) {
    switch (run.stage) {
        case InterruptedRun::Stage::IfoRepair:
            OnVobPassDone();
            UpdateIfos(ifo);
            return;
        case InterruptedRun::Stage::PassDone:
            RepairAfterPass(ifo, run.nextPointerNav);
            return;
        case InterruptedRun::Stage::InPass:
        case InterruptedRun::Stage::PassNotBegun:
            break;
    }
    if (!OpenPass()) {
        return;
    }
    // The file is part way through: it is read on from where the pass stood, with the size it
    // had when the pass opened it.
    if (run.stage == InterruptedRun::Stage::InPass) {
        m_FileSectors = run.lastPass.at.cursor.fileSectors;
        m_In->SetReadCursor(run.lastPass.at.cursor.readInFile);
    } else {
        m_ReadInFile = 0;
    }
    m_Recorder->PackStarts();
    RunPassOnwards(ifo);
}

}  // namespace dorvex
