#include "engine/journal/PassJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "engine/PackLayout.h"
#include "engine/journal/JournalCheck.h"
#include "support/Fingerprint.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

constexpr int64_t kPackSize = pack::kPackSize;
// A batch that begins with at least this gap between reads and writes is cut to the gap, so
// that a checkpoint made before it need not hold its packs: smaller batches would cost more in
// barriers than recording the packs does.
constexpr int64_t kMinBatchByReference = 512;
// Beyond this the journal is replaced by its header and one settled record: recorded packs are
// needed only until the next settled checkpoint.
constexpr int64_t kReplaceJournalAt = 64 << 20;
// How much a run writes between two flushes of a VOB file. Each flush stalls the pass until
// its writes are on disk; between two, a power cut may lose any of them, and the records since
// the last flush say how to make them again.
constexpr int64_t kSettleEveryPacks = 131072;  // 256 MiB

// The stream's part numbers are the digits before ".VOB"; a menu's is 0, VIDEO_TS.VOB's too.
int32_t PartNumber(const std::string& name) {
    return IsVideoManagerName(name) ? kMenuVobPart : GetVobDigit(name) - '0';
}

// A header names the files of the title set (and domain) its journal is named after.
bool HeaderFitsJournal(const JournalHeader& header, const std::string& path) {
    const std::optional<JournalNameParts> journal = ParseJournalFileName(path);
    if (!journal || (header.menu != 0) != journal->menu ||
        TitleSetOf(header.vobName) != journal->titleSet ||
        TitleSetOf(header.ifoName) != journal->titleSet || header.parts.empty()) {
        return false;
    }
    return std::all_of(header.parts.begin(), header.parts.end(), [&](const JournalPart& part) {
        return TitleSetOf(part.name) == journal->titleSet &&
               EqualsIgnoreCase(GetFileExt(part.name), ".VOB") &&
               (PartNumber(part.name) == kMenuVobPart) == (header.menu != 0);
    });
}

// Where the reading of a journal's records leaves an interrupted run; false when the records
// come in an order no run writes.
bool FollowRecord(JournalRecord& record, InterruptedRun& run) {
    using Stage = InterruptedRun::Stage;
    switch (record.kind) {
        case JournalRecordKind::Checkpoint:
        case JournalRecordKind::Cut:
        case JournalRecordKind::PassDone:
            if (run.stage != Stage::PassNotBegun && run.stage != Stage::InPass) {
                return false;
            }
            run.stage =
                record.kind == JournalRecordKind::PassDone ? Stage::PassDone : Stage::InPass;
            // Writes made since the last settled record may not all be on disk: each is made
            // again, in the order the run made them.
            if (record.settled) {
                run.redo.clear();
                run.redoMoves.clear();
            }
            std::move(record.pieces.begin(), record.pieces.end(), std::back_inserter(run.redo));
            std::move(record.moves.begin(), record.moves.end(), std::back_inserter(run.redoMoves));
            record.pieces.clear();
            record.moves.clear();
            run.lastPass = std::move(record);
            run.hasPassRecord = true;
            return true;
        case JournalRecordKind::PointerBatch:
            if (run.stage != Stage::PassDone) {
                return false;
            }
            run.nextPointerNav = record.nextPointerNav;
            run.redo = std::move(record.pieces);
            run.redoMoves.clear();
            return true;
        case JournalRecordKind::IfoRepair:
            if (run.stage != Stage::PassDone) {
                return false;
            }
            run.stage = Stage::IfoRepair;
            run.redo.clear();
            run.redoMoves.clear();
            return true;
    }
    return false;
}

}  // namespace

bool PassJournal::Create(const std::string& path, const JournalHeader& header) {
    m_Header = header;
    m_HeaderBytes = EncodeJournalHeader(header);
    if (!m_File.Create(path, m_HeaderBytes)) {
        return false;
    }
    m_Sent = {};
    m_LimitPart = -1;
    m_SettledPart = -1;
    PackStarts();
    return true;
}

bool PassJournal::Resume(const std::string& path, InterruptedRun& run) {
    std::vector<std::vector<uint8_t>> frames;
    if (!m_File.Open(path, frames)) {
        return false;
    }
    if (frames.empty() || !DecodeJournalHeader(frames.front(), run.header)) {
        m_File.SetError(path + " is not a journal this version of Dorvex can read");
        return false;
    }
    if (!HeaderFitsJournal(run.header, path)) {
        m_File.SetError(path + " names other files than its own title set's");
        return false;
    }
    for (size_t i = 1; i < frames.size(); ++i) {
        JournalRecord record;
        if (!DecodeJournalRecord(frames[i], run.header, record, run.tables) ||
            !FollowRecord(record, run)) {
            m_File.SetError(path + " is damaged (record " + std::to_string(i) + " of " +
                            std::to_string(frames.size() - 1) + ")");
            return false;
        }
    }
    m_Header = run.header;
    m_HeaderBytes = frames.front();
    const TableExtent extent = run.tables.Extent();
    m_Sent = {extent.navCount, extent.mapCount, extent.cellCount,
              std::max(0, extent.removedRuns - 1)};
    if (run.hasPassRecord) {
        m_LastPassAt = run.lastPass.at;
        m_LastPassFiles = run.lastPass.files;
        m_LastPassKind = run.lastPass.kind;
    }
    m_LimitPart = -1;
    m_SettledPart = -1;  // the finishing run's redo is flushed before it goes on
    return true;
}

int32_t PassJournal::PartOf(const std::string& path) const {
    const FileIdentity identity = m_Files.IdentityOf(path);
    const std::string name = GetFileName(path);
    for (size_t i = 0; i < m_Header.parts.size(); ++i) {
        const JournalPart& part = m_Header.parts[i];
        if (part.identity.Known() ? part.identity == identity : EqualsIgnoreCase(part.name, name)) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

std::string PassJournal::PartPathNow(int32_t part) const {
    return PartPath(m_Files, GetFolder(m_File.Path()), m_Header, static_cast<size_t>(part), true);
}

BatchPlan PassJournal::BatchStarts(CVobFile& file, int64_t sector) {
    m_BatchStart = m_PackStart;
    m_BatchPart = PartOf(file.Path());
    const int64_t gap = m_BatchStart.cursor.readInFile - sector;
    const bool sameFile =
        m_BatchPart >= 0 && PartNumber(m_Header.parts[static_cast<size_t>(m_BatchPart)].name) ==
                                m_BatchStart.cursor.filePart;
    if (sameFile && gap >= kMinBatchByReference) {
        return {gap, false};
    }
    // Too little gap to make the batch again from its input: its moves are recorded by
    // fingerprint, and one long batch shares the barrier that records it.
    return {0, true};
}

bool PassJournal::BeforeVobWrite(CVobFile& file, const PendingVobWrite& write) {
    const int32_t part = PartOf(file.Path());
    if (part < 0) {
        Alertf("%s is not a file of the stream the journal describes. The change was not made.",
               file.Path().c_str());
        return false;
    }
    const int64_t lowest = write.Lowest();
    const int64_t end = write.End();
    if (part != m_LimitPart || end > m_Limit) {
        const bool byReference = part == m_BatchPart && end <= m_BatchStart.cursor.readInFile &&
                                 PartNumber(m_Header.parts[static_cast<size_t>(part)].name) ==
                                     m_BatchStart.cursor.filePart;
        const PassSnapshot at = byReference ? m_BatchStart : m_PackStart;
        if (!byReference && (end > at.cursor.readInFile || !PiecesOf(file, part, write))) {
            Alertf("%s: the write at sector %lld cannot be recorded. The change was not made.",
                   file.Path().c_str(), static_cast<long long>(lowest));
            return false;
        }
        PassRecordToEncode record;
        record.settled = part != m_SettledPart || m_UnsettledPacks >= kSettleEveryPacks ||
                         m_File.Size() >= kReplaceJournalAt;
        if (record.settled && !Settle(file, part, lowest)) {
            return false;
        }
        const PartsState files = FilesNow(part, at, lowest);
        record.at = &at;
        record.files = &files;
        record.pieces = byReference ? nullptr : &m_Pieces;
        record.moves = byReference ? nullptr : &m_Moves;
        if (!Record(record)) {
            return false;
        }
        m_LimitPart = part;
        m_Limit = at.cursor.readInFile;
    }
    for (const WritePiece& piece : write) {
        m_UnsettledPacks += piece.packs;
    }
    // The batch's last pack from memory is checked by the next checkpoint, once it is on disk.
    for (auto piece = write.end(); piece != write.begin();) {
        --piece;
        if (piece->from < 0 && piece->bytes != nullptr) {
            m_LastWrittenPart = part;
            m_LastWrittenSector = piece->sector + piece->packs - 1;
            m_LastWrittenFingerprint =
                CheckedFingerprint(piece->bytes + (piece->packs - 1) * kPackSize);
            break;
        }
    }
    return true;
}

bool PassJournal::BeforeVobTruncate(CVobFile& file, int64_t sectors) {
    const int32_t part = PartOf(file.Path());
    if (part < 0) {
        Alertf("%s is not a file of the stream the journal describes. The change was not made.",
               file.Path().c_str());
        return false;
    }
    if (!Settle(file, part, sectors)) {
        return false;
    }
    const PartsState files = FilesNow(part, m_PackStart, sectors);
    PassRecordToEncode record;
    record.kind = JournalRecordKind::Cut;
    record.at = &m_PackStart;
    record.files = &files;
    record.cutPart = static_cast<uint8_t>(part);
    record.cutSectors = sectors;
    m_LimitPart = -1;
    return Record(record);
}

bool PassJournal::Settle(CVobFile& file, int32_t part, int64_t lowest) {
    if (!file.SyncIssued()) {
        Alertf("Couldn't flush %s to disk: %s. The change was not made.", file.Path().c_str(),
               file.LastError().c_str());
        return false;
    }
    m_SettledPart = part;
    m_SettledEnd = lowest;
    m_UnsettledPacks = 0;
    return true;
}

bool PassJournal::Record(const PassRecordToEncode& record) {
    if (!AppendOrReplace(record)) {
        return false;
    }
    if (!m_File.Sync()) {
        Alertf("%s. The change was not made.", m_File.LastError().c_str());
        return false;
    }
    return true;
}

bool PassJournal::PiecesOf(CVobFile& file, int32_t part, const PendingVobWrite& write) {
    m_Pieces.clear();
    m_Moves.clear();
    m_MoveFingerprintsAt.clear();
    m_MoveFingerprints.clear();
    const auto partIndex = static_cast<uint8_t>(part);
    for (const WritePiece& piece : write) {
        if (piece.from < 0) {
            m_Pieces.push_back({partIndex, piece.sector, piece.packs, piece.bytes});
            continue;
        }
        // Copies from another file, or up, are no writes a pass makes in place.
        if (!piece.fromThisFile || piece.from < piece.sector) {
            return false;
        }
        if (piece.from == piece.sector) {
            continue;  // the packs are already there
        }
        // A long batch took its copies' fingerprints as it read them: the record points at
        // those. Others are taken now, into m_MoveFingerprints.
        int64_t takenAt = -1;
        if (piece.fingerprints == nullptr) {
            takenAt = static_cast<int64_t>(m_MoveFingerprints.size());
            if (!FingerprintMoved(file, piece)) {
                return false;
            }
        }
        m_Moves.push_back({partIndex, piece.sector, piece.from, piece.packs, piece.fingerprints});
        m_MoveFingerprintsAt.push_back(takenAt);
    }
    // Pointed at only now: m_MoveFingerprints has stopped growing.
    for (size_t i = 0; i < m_Moves.size(); ++i) {
        if (m_MoveFingerprintsAt[i] >= 0) {
            m_Moves[i].fingerprints = m_MoveFingerprints.data() + m_MoveFingerprintsAt[i];
        }
    }
    return true;
}

bool PassJournal::FingerprintMoved(CVobFile& file, const WritePiece& piece) {
    constexpr int64_t kChunkPacks = 256;
    for (int64_t done = 0; done < piece.packs;) {
        int64_t chunk = piece.packs - done;
        const uint8_t* packs = nullptr;
        if (piece.bytes != nullptr) {
            packs = piece.bytes + done * kPackSize;
        } else {
            // Not in memory any more: read as the file holds it, which the batch has not yet
            // written over (a move only goes down, and the batch's writes trail its reads).
            chunk = std::min(chunk, kChunkPacks);
            m_CopiedBytes.resize(static_cast<size_t>(kChunkPacks * kPackSize));
            if (!file.ReadIssued(piece.from + done, chunk, m_CopiedBytes.data())) {
                return false;
            }
            packs = m_CopiedBytes.data();
        }
        for (int64_t i = 0; i < chunk; ++i) {
            m_MoveFingerprints.push_back(
                Fingerprint(packs + i * kPackSize, static_cast<size_t>(kPackSize)));
        }
        done += chunk;
    }
    return true;
}

void PassJournal::AddCheck(PartsState& state, int32_t part, int64_t sector) {
    const std::string& path = m_CheckPaths[static_cast<size_t>(part)];
    if (sector < 0 || sector >= state.sizes[static_cast<size_t>(part)] / kPackSize) {
        return;
    }
    std::string error;
    std::unique_ptr<FileHandle> file = m_Files.Open(path, OpenMode::Read, error);
    uint8_t pack[pack::kPackSize];
    if (file != nullptr && file->Read(pack, kPackSize, sector * kPackSize) == kPackSize) {
        state.checks.push_back({static_cast<uint8_t>(part), sector, CheckedFingerprint(pack)});
    }
}

PartsState PassJournal::FilesNow(int32_t part, const PassSnapshot& at, int64_t lowest) {
    PartsState state;
    const int32_t parts = static_cast<int32_t>(m_Header.parts.size());
    // Each part's path is looked up once per record (it lists the folder).
    m_CheckPaths.clear();
    for (int32_t i = 0; i < parts; ++i) {
        m_CheckPaths.push_back(PartPathNow(i));
        state.sizes.push_back(m_Files.SizeBytes(m_CheckPaths.back()));
    }
    for (int32_t i = 0; i < parts; ++i) {
        const int64_t last = state.sizes.back() / kPackSize - 1;
        if (part < 0 || i < part) {
            AddCheck(state, i, last);  // a finished part: its end
        } else if (i > part) {
            AddCheck(state, i, 0);  // untouched input
            AddCheck(state, i, last);
        }
    }
    if (part < 0) {
        return state;
    }
    // What the run had finished just below the batch, the last pack it wrote from memory, and
    // the input from the read position on, which the run will read again.
    const int64_t finished = std::min<int64_t>(
        {lowest, at.cursor.writtenInFile, part == m_SettledPart ? m_SettledEnd : int64_t{0}});
    AddCheck(state, part, finished - 1);
    AddCheck(state, part, finished - 2);
    if (m_LastWrittenPart == part && m_LastWrittenSector < finished) {
        state.checks.push_back(
            {static_cast<uint8_t>(part), m_LastWrittenSector, m_LastWrittenFingerprint});
    }
    AddCheck(state, part, at.cursor.readInFile);
    AddCheck(state, part, at.cursor.readInFile + 1);
    const int64_t last = state.sizes[static_cast<size_t>(part)] / kPackSize - 1;
    if (last > at.cursor.readInFile + 1) {
        AddCheck(state, part, last);
    }
    return state;
}

bool PassJournal::Append() {
    if (m_File.Append(m_Record)) {
        return true;
    }
    Alertf("%s. The change was not made.", m_File.LastError().c_str());
    return false;
}

bool PassJournal::AppendOrReplace(const PassRecordToEncode& record) {
    m_Record.clear();
    JournalCursor sent = m_Sent;
    EncodePassRecord(m_Record, record, m_Model, sent);
    m_LastPassAt = *record.at;
    m_LastPassFiles = *record.files;
    m_LastPassKind = record.kind;
    // Only a settled record may stand alone: the records before it are needed until one is.
    if (!record.settled ||
        m_File.Size() + static_cast<int64_t>(m_Record.size()) <= kReplaceJournalAt) {
        m_Sent = sent;
        return Append();
    }
    m_Record.clear();
    m_Sent = {};
    EncodePassRecord(m_Record, record, m_Model, m_Sent);
    if (!m_File.Replace({m_HeaderBytes, m_Record})) {
        Alertf("%s. The change was not made.", m_File.LastError().c_str());
        return false;
    }
    return true;
}

bool PassJournal::PassDone() {
    const std::string folder = GetFolder(m_File.Path());
    std::string error;
    if (!m_Files.FlushFolder(folder, error)) {
        Alertf("Couldn't flush %s to disk: %s", folder.c_str(), error.c_str());
        return false;
    }
    PackStarts();
    const PartsState files = FilesNow(-1, m_PackStart, 0);
    PassRecordToEncode record;
    record.kind = JournalRecordKind::PassDone;
    record.at = &m_PackStart;
    record.files = &files;
    if (!AppendOrReplace(record)) {
        return false;
    }
    if (!m_File.Sync()) {
        Alertf("%s", m_File.LastError().c_str());
        return false;
    }
    return true;
}

bool PassJournal::PointerBatch(CVobFile& file, const PendingVobWrite& write, int32_t nextNav) {
    const int32_t part = PartOf(file.Path());
    if (part < 0 || !PiecesOf(file, part, write) || !m_Moves.empty()) {
        Alertf("%s: the rewrite cannot be recorded. The change was not made.", file.Path().c_str());
        return false;
    }
    m_Record.clear();
    EncodePointerBatch(m_Record, nextNav, m_Pieces);
    bool recorded = false;
    if (m_File.Size() + static_cast<int64_t>(m_Record.size()) <= kReplaceJournalAt) {
        recorded = Append();
    } else {
        std::vector<uint8_t> pass;
        JournalCursor whole;
        PassRecordToEncode record;
        record.kind = m_LastPassKind;
        record.at = &m_LastPassAt;
        record.files = &m_LastPassFiles;
        EncodePassRecord(pass, record, m_Model, whole);
        recorded = m_File.Replace({m_HeaderBytes, pass, m_Record});
        if (!recorded) {
            Alertf("%s. The change was not made.", m_File.LastError().c_str());
        }
    }
    if (recorded && !m_File.Sync()) {
        Alertf("%s. The change was not made.", m_File.LastError().c_str());
        return false;
    }
    return recorded;
}

bool PassJournal::RepairBegins() {
    const std::string folder = GetFolder(m_File.Path());
    std::string error;
    if (!m_Files.FlushFolder(folder, error)) {
        Alertf("Couldn't flush %s to disk: %s", folder.c_str(), error.c_str());
        return false;
    }
    m_Record.clear();
    EncodeIfoRecord(m_Record);
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
    // Stopped before its first record, a run changed nothing and leaves nothing to finish.
    if (interrupted && m_File.Size() > static_cast<int64_t>(m_HeaderBytes.size()) + 12) {
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

std::string CheckInterruptedRunFiles(FileSystem& files, const std::string& folder,
                                     const InterruptedRun& run) {
    JournalRecord untouched;
    if (!run.hasPassRecord) {
        for (const JournalPart& part : run.header.parts) {
            untouched.files.sizes.push_back(part.size);
        }
    }
    const JournalRecord& record = run.hasPassRecord ? run.lastPass : untouched;
    if (std::string found = CheckFilesAgainst(files, folder, run.header, record, run.Renamed());
        !found.empty()) {
        return found;
    }
    // The IFO itself may have been rewritten meanwhile by another step of the same run (a full
    // disc repairs the title set's IFO after its menu), and the repair starts over from the
    // copy the header holds: only that it is still a file of its own is checked.
    const std::string ifoPath = ResolveCase(files, JoinPath(folder, run.header.ifoName));
    if (files.KindOf(ifoPath) != FileKind::Regular) {
        return run.header.ifoName + " is missing or not a regular file";
    }
    return {};
}

bool RedoLastChange(FileSystem& files, const std::string& folder, const InterruptedRun& run,
                    std::string& error) {
    // Lost moves are found before anything is written, so that a refusal leaves the files as
    // the interrupted run did.
    if (std::string lost = FindLostMoves(files, folder, run.header, run.redoMoves, run.Renamed());
        !lost.empty()) {
        error = lost + ". The title set cannot be finished: restore it from your backup or source";
        return false;
    }
    if (run.hasPassRecord &&
        !RedoCuts(files, folder, run.header, run.lastPass, run.Renamed(), error)) {
        return false;
    }
    if (!RedoMoves(files, folder, run.header, run.redoMoves, run.Renamed(), error)) {
        return false;
    }
    for (const RecordedPieces& piece : run.redo) {
        const std::string path = PartPath(files, folder, run.header, piece.part, run.Renamed());
        std::unique_ptr<FileHandle> file =
            path.empty() ? nullptr : files.Open(path, OpenMode::Update, error);
        if (file == nullptr) {
            error = "Couldn't open " + (path.empty() ? run.header.parts[piece.part].name : path) +
                    ": " + error;
            return false;
        }
        if (!file->Write(piece.bytes.data(), static_cast<int64_t>(piece.bytes.size()),
                         piece.sector * kPackSize) ||
            !file->Sync() || !file->Close()) {
            error = "Couldn't write " + path + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace dorvex
