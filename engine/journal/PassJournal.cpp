#include "engine/journal/PassJournal.h"

#include "engine/journal/WriteRedo.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

// Where the reading of a journal's records leaves an interrupted run.
void FollowRecord(const JournalRecord& record, InterruptedRun& run) {
    switch (record.kind) {
        case JournalRecordKind::PassWrite:
        case JournalRecordKind::PassTruncate:
            run.at = record.at;
            run.stage = InterruptedRun::Stage::InPass;
            break;
        case JournalRecordKind::PassDone:
            run.at = record.at;
            run.stage = InterruptedRun::Stage::PassDone;
            break;
        case JournalRecordKind::PointerWrite:
            run.nextPointerNav = record.pointerNav + 1;
            break;
        case JournalRecordKind::IfoRepair:
            run.stage = InterruptedRun::Stage::IfoRepair;
            break;
    }
}

}  // namespace

bool PassJournal::Create(const std::string& path, const JournalHeader& header) {
    if (!m_File.Create(path, EncodeJournalHeader(header))) {
        return false;
    }
    m_Sent = {};
    m_Records = 0;
    m_PointerNav = -1;
    PackStarts();
    return true;
}

bool PassJournal::Resume(const std::string& path, InterruptedRun& run) {
    std::vector<std::vector<uint8_t>> frames;
    if (!m_File.Open(path, frames) || frames.empty() ||
        !DecodeJournalHeader(frames.front(), run.header)) {
        if (m_File.LastError().empty()) {
            m_File.SetError(path + " cannot be read");
        }
        return false;
    }
    for (size_t i = 1; i < frames.size(); ++i) {
        if (!DecodeJournalRecord(frames[i], run.last, run.tables)) {
            m_File.SetError(path + " is damaged (record " + std::to_string(i) + ")");
            return false;
        }
        FollowRecord(run.last, run);
    }
    run.hasRecord = frames.size() > 1;
    m_Records = static_cast<int32_t>(frames.size()) - 1;
    const TableExtent extent = run.tables.Extent();
    m_Sent.nav = extent.navCount;
    m_Sent.map = extent.mapCount;
    m_Sent.cells = extent.cellCount;
    m_Sent.removedRuns = std::max(0, extent.removedRuns - 1);
    m_PointerNav = -1;
    return true;
}

bool PassJournal::Append() {
    if (m_File.Append(m_Record)) {
        ++m_Records;
        return true;
    }
    Alertf("%s. The change was not made.", m_File.LastError().c_str());
    return false;
}

bool PassJournal::BeforeVobWrite(const CVobFile& file, const PendingVobWrite& write) {
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
        EncodePassRecord(m_Record, JournalRecordKind::PassWrite, m_PackStart, m_Model, m_Sent);
        EncodeWrite(m_Record, recorded);
    }
    return Append();
}

bool PassJournal::BeforeVobTruncate(const CVobFile& file, int64_t sectors) {
    m_Record.clear();
    EncodePassRecord(m_Record, JournalRecordKind::PassTruncate, m_PackStart, m_Model, m_Sent);
    EncodeTruncate(m_Record, GetFileName(file.Path()), sectors);
    return Append();
}

bool PassJournal::PassDone() {
    PackStarts();
    m_Record.clear();
    EncodePassRecord(m_Record, JournalRecordKind::PassDone, m_PackStart, m_Model, m_Sent);
    return AppendPhaseEnd();
}

bool PassJournal::RepairBegins() {
    m_Record.clear();
    EncodeIfoRecord(m_Record);
    return AppendPhaseEnd();
}

bool PassJournal::AppendPhaseEnd() {
    // The journal may say a phase is done only once the phase's writes are on disk, and the
    // record must be on disk before the next phase changes anything.
    const std::string folder = GetFolder(m_File.Path());
    std::string error;
    if (!m_Files.FlushFolder(folder, error)) {
        Alertf("Couldn't flush %s to disk: %s", folder.c_str(), error.c_str());
        return false;
    }
    if (!Append()) {
        return false;
    }
    if (!m_File.Sync()) {
        Alertf("%s", m_File.LastError().c_str());
        return false;
    }
    return true;
}

PassJournal::Ending PassJournal::End(bool interrupted) {
    // Stopped before its first change, a run leaves nothing to finish.
    if (interrupted && m_Records > 0) {
        m_File.Close();
        return {true, false};
    }
    if (m_File.Remove()) {
        return {false, false};
    }
    // The run itself is done either way; a journal still there is only finished again.
    const bool left = m_Files.KindOf(m_File.Path()) != FileKind::Missing;
    Alertf("%s. The run is done%s.", m_File.LastError().c_str(),
           left ? "; running it again removes the journal" : "");
    return {left, true};
}

bool RedoLastChange(FileSystem& files, const std::string& folder, const InterruptedRun& run,
                    std::string& error) {
    if (!run.hasRecord) {
        return true;
    }
    switch (run.last.kind) {
        case JournalRecordKind::PassWrite:
        case JournalRecordKind::PointerWrite:
            return RedoWrite(files, folder, run.last.write, error);
        case JournalRecordKind::PassTruncate:
            return RedoTruncate(files, folder, run.last.write.file, run.last.truncateSectors,
                                error);
        default:
            return true;
    }
}

}  // namespace dorvex
