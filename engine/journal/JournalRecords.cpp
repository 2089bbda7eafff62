#include "engine/journal/JournalRecords.h"

#include <algorithm>
#include <cstring>

#include "engine/PackLayout.h"
#include "support/ByteRecord.h"

namespace dorvex {

namespace {

constexpr int64_t kPackSize = pack::kPackSize;

void PutCell(ByteRecordWriter& out, const CellTableEntry& cell) {
    out.U16(cell.vobId);
    out.U8(cell.cellId);
    out.I32(cell.firstLba);
    out.I32(cell.lastLba);
}

CellTableEntry GetCell(ByteRecordReader& in) {
    CellTableEntry cell;
    cell.vobId = in.U16();
    cell.cellId = in.U8();
    cell.firstLba = in.I32();
    cell.lastLba = in.I32();
    return cell;
}

void PutValue(ByteRecordWriter& out, int32_t value) {
    out.I32(value);
}
void PutValue(ByteRecordWriter& out, uint16_t value) {
    out.U16(value);
}
void PutValue(ByteRecordWriter& out, uint8_t value) {
    out.U8(value);
}
void GetValue(ByteRecordReader& in, int32_t& value) {
    value = in.I32();
}
void GetValue(ByteRecordReader& in, uint16_t& value) {
    value = in.U16();
}
void GetValue(ByteRecordReader& in, uint8_t& value) {
    value = in.U8();
}

// The cursor as its field list declares it, then the tables' extent.
void PutSnapshot(ByteRecordWriter& out, const PassSnapshot& at) {
    ForEachCursorField([&](const auto& field) { PutValue(out, at.cursor.*field.slot); });
    const TableExtent& t = at.tables;
    for (int32_t count : {t.navCount, t.mapCount, t.cellCount, t.removedRuns}) {
        out.I32(count);
    }
    PutCell(out, t.openCell);
    out.I32(t.lastRun.first);
    out.I32(t.lastRun.count);
}

PassSnapshot GetSnapshot(ByteRecordReader& in) {
    PassSnapshot at;
    ForEachCursorField([&](const auto& field) { GetValue(in, at.cursor.*field.slot); });
    TableExtent& t = at.tables;
    for (int32_t* count : {&t.navCount, &t.mapCount, &t.cellCount, &t.removedRuns}) {
        *count = in.I32();
    }
    t.openCell = GetCell(in);
    t.lastRun.first = in.I32();
    t.lastRun.count = in.I32();
    return at;
}

// A table's entries from `from` on: the decoder cuts the table there and appends them, so a
// record may carry an entry again that an earlier one carried while it still changed.
void PutRange(ByteRecordWriter& out, int32_t from, int32_t count) {
    out.I32(from);
    out.I32(count);
}

bool GetRange(ByteRecordReader& in, size_t tableSize, int32_t& from, int32_t& count) {
    from = in.I32();
    count = in.I32();
    return in.Good() && from >= 0 && count >= 0 && static_cast<size_t>(from) <= tableSize &&
           static_cast<size_t>(count) <= in.Left();
}

// Each table is cut where the record's entries start and they are appended; the counts follow.
bool GetTables(ByteRecordReader& in, PassTables& t) {
    int32_t from = 0;
    int32_t count = 0;
    if (!GetRange(in, static_cast<size_t>(t.m_NavCount), from, count)) {
        return false;
    }
    for (std::vector<int32_t>* list : {&t.m_NavOld, &t.m_NavNew, &t.m_NavVcid}) {
        list->resize(static_cast<size_t>(from));
    }
    for (int32_t i = 0; i < count; ++i) {
        t.m_NavOld.push_back(in.I32());
        t.m_NavNew.push_back(in.I32());
        t.m_NavVcid.push_back(in.I32());
    }
    t.m_NavCount = static_cast<int32_t>(t.m_NavOld.size());
    if (!GetRange(in, static_cast<size_t>(t.m_MapCount), from, count)) {
        return false;
    }
    t.m_VCIDMap.resize(static_cast<size_t>(from));
    for (int32_t i = 0; i < count; ++i) {
        VcidMapEntry entry;
        entry.oldVobId = in.U16();
        entry.oldCellId = in.U8();
        entry.newVobId = in.U16();
        entry.newCellId = in.U8();
        t.m_VCIDMap.push_back(entry);
    }
    t.m_MapCount = static_cast<int32_t>(t.m_VCIDMap.size());
    // The cell table holds its closed cells and then the open one.
    if (!GetRange(in, static_cast<size_t>(t.m_CellCount), from, count) || count < 1) {
        return false;
    }
    t.m_Cells.resize(static_cast<size_t>(from));
    for (int32_t i = 0; i < count; ++i) {
        t.m_Cells.push_back(GetCell(in));
    }
    t.m_CellCount = static_cast<int32_t>(t.m_Cells.size()) - 1;
    if (!GetRange(in, static_cast<size_t>(t.m_Removed.RunCount()), from, count)) {
        return false;
    }
    t.m_Removed.KeepRuns(from);
    for (int32_t i = 0; i < count; ++i) {
        RemovedRun run;
        run.first = in.I32();
        run.count = in.I32();
        t.m_Removed.AddRun(run);
    }
    return in.Good();
}

// The table entries past `sent` up to the extent; the open cell and the last removed run are
// carried again by every record, from the snapshot: the tables may have moved on since.
void PutTables(ByteRecordWriter& out, const TableExtent& extent, const PassTables& tables,
               JournalCursor& sent) {
    PutRange(out, sent.nav, extent.navCount - sent.nav);
    for (int32_t i = sent.nav; i < extent.navCount; ++i) {
        const size_t at = static_cast<size_t>(i);
        out.I32(tables.m_NavOld[at]);
        out.I32(tables.m_NavNew[at]);
        out.I32(tables.m_NavVcid[at]);
    }
    PutRange(out, sent.map, extent.mapCount - sent.map);
    for (int32_t i = sent.map; i < extent.mapCount; ++i) {
        const VcidMapEntry& entry = tables.m_VCIDMap[static_cast<size_t>(i)];
        out.U16(entry.oldVobId);
        out.U8(entry.oldCellId);
        out.U16(entry.newVobId);
        out.U8(entry.newCellId);
    }
    PutRange(out, sent.cells, extent.cellCount - sent.cells + 1);
    for (int32_t i = sent.cells; i < extent.cellCount; ++i) {
        PutCell(out, tables.m_Cells[static_cast<size_t>(i)]);
    }
    PutCell(out, extent.openCell);
    const int32_t runsFrom = std::min(sent.removedRuns, std::max(0, extent.removedRuns - 1));
    PutRange(out, runsFrom, extent.removedRuns - runsFrom);
    for (int32_t i = runsFrom; i < extent.removedRuns; ++i) {
        const RemovedRun run =
            i + 1 == extent.removedRuns ? extent.lastRun : tables.m_Removed.RunAt(i);
        out.I32(run.first);
        out.I32(run.count);
    }
    sent.nav = extent.navCount;
    sent.map = extent.mapCount;
    sent.cells = extent.cellCount;
    sent.removedRuns = std::max(0, extent.removedRuns - 1);
}

void PutPartsState(ByteRecordWriter& out, const PartsState& files) {
    out.U32(static_cast<uint32_t>(files.sizes.size()));
    for (int64_t size : files.sizes) {
        out.I64(size);
    }
    out.U32(static_cast<uint32_t>(files.checks.size()));
    for (const PackCheck& check : files.checks) {
        out.U8(check.part);
        out.I64(check.sector);
        out.U64(check.fingerprint);
    }
}

void PutPieces(ByteRecordWriter& out, const std::vector<PiecesToRecord>* pieces) {
    out.U32(pieces == nullptr ? 0 : static_cast<uint32_t>(pieces->size()));
    if (pieces == nullptr) {
        return;
    }
    for (const PiecesToRecord& piece : *pieces) {
        out.U8(piece.part);
        out.I64(piece.sector);
        out.U32(static_cast<uint32_t>(piece.packs));
        out.Bytes(piece.bytes, static_cast<size_t>(piece.packs * kPackSize));
    }
}

void PutMoves(ByteRecordWriter& out, const std::vector<MoveToRecord>* moves) {
    out.U32(moves == nullptr ? 0 : static_cast<uint32_t>(moves->size()));
    if (moves == nullptr) {
        return;
    }
    for (const MoveToRecord& move : *moves) {
        out.U8(move.part);
        out.I64(move.sector);
        out.I64(move.from);
        out.U32(static_cast<uint32_t>(move.packs));
        for (int64_t i = 0; i < move.packs; ++i) {
            out.U64(move.fingerprints[i]);
        }
    }
}

// Sectors of a part as the run found it: nothing a record names lies beyond them.
int64_t PartSectors(const JournalHeader& header, uint8_t part) {
    return (header.parts[part].size + kPackSize - 1) / kPackSize;
}

bool GetPartsState(ByteRecordReader& in, const JournalHeader& header, PartsState& files) {
    const uint32_t parts = in.U32();
    if (!in.Good() || parts != header.parts.size()) {
        return false;
    }
    for (uint32_t i = 0; i < parts; ++i) {
        files.sizes.push_back(in.I64());
        if (files.sizes.back() < 0 || files.sizes.back() > header.parts[i].size) {
            return false;
        }
    }
    const uint32_t checks = in.U32();
    if (!in.Good() || checks > in.Left() / 17) {
        return false;
    }
    for (uint32_t i = 0; i < checks; ++i) {
        PackCheck check;
        check.part = in.U8();
        check.sector = in.I64();
        check.fingerprint = in.U64();
        if (check.part >= parts || check.sector < 0 ||
            check.sector >= PartSectors(header, check.part)) {
            return false;
        }
        files.checks.push_back(check);
    }
    return in.Good();
}

bool GetPieces(ByteRecordReader& in, const JournalHeader& header,
               std::vector<RecordedPieces>& pieces) {
    const uint32_t count = in.U32();
    if (!in.Good() || count > in.Left() / 13) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        RecordedPieces piece;
        piece.part = in.U8();
        piece.sector = in.I64();
        const uint32_t packs = in.U32();
        if (!in.Good() || piece.part >= header.parts.size() || piece.sector < 0 ||
            packs > in.Left() / kPackSize ||
            piece.sector + packs > PartSectors(header, piece.part)) {
            return false;
        }
        const uint8_t* bytes = in.Bytes(static_cast<size_t>(packs) * kPackSize);
        piece.bytes.assign(bytes, bytes + static_cast<size_t>(packs) * kPackSize);
        pieces.push_back(std::move(piece));
    }
    return in.Good();
}

// A move only ever goes down, within the part as the run found it.
bool GetMoves(ByteRecordReader& in, const JournalHeader& header, std::vector<RecordedMove>& moves) {
    const uint32_t count = in.U32();
    if (!in.Good() || count > in.Left() / 21) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        RecordedMove move;
        move.part = in.U8();
        move.sector = in.I64();
        move.from = in.I64();
        const uint32_t packs = in.U32();
        if (!in.Good() || move.part >= header.parts.size() || move.sector < 0 ||
            move.from <= move.sector || packs > in.Left() / sizeof(uint64_t) ||
            move.from + packs > PartSectors(header, move.part)) {
            return false;
        }
        move.fingerprints.resize(packs);
        for (uint64_t& fingerprint : move.fingerprints) {
            fingerprint = in.U64();
        }
        moves.push_back(std::move(move));
    }
    return in.Good();
}

// A snapshot that points outside the stream or tables larger than it can only be forged.
bool WithinStream(const PassSnapshot& at, const JournalHeader& header, const PassTables& t) {
    const PassCursor& c = at.cursor;
    const int64_t total = header.totalSectors;
    const bool cursor = c.readTotal >= 0 && c.readTotal <= total && c.writtenTotal >= 0 &&
                        c.writtenTotal <= c.readTotal && c.readInFile >= 0 &&
                        c.writtenInFile >= 0 && c.writtenInFile <= c.readInFile &&
                        c.readInFile <= c.fileSectors && c.fileSectors <= total;
    const bool tables = t.m_NavCount <= total && t.m_CellCount <= total && t.m_MapCount <= total &&
                        t.m_Removed.RunCount() <= total && at.tables.navCount == t.m_NavCount &&
                        at.tables.mapCount == t.m_MapCount &&
                        at.tables.cellCount == t.m_CellCount &&
                        at.tables.removedRuns == t.m_Removed.RunCount();
    return cursor && tables;
}

bool GetPassRecord(ByteRecordReader& in, const JournalHeader& header, JournalRecord& record,
                   PassTables& tables) {
    record.at = GetSnapshot(in);
    if (!GetTables(in, tables) || !WithinStream(record.at, header, tables) ||
        !GetPartsState(in, header, record.files)) {
        return false;
    }
    if (record.kind == JournalRecordKind::Checkpoint) {
        if (!GetPieces(in, header, record.pieces) || !GetMoves(in, header, record.moves)) {
            return false;
        }
        const uint8_t settled = in.U8();
        record.settled = settled != 0;
        return in.Good() && settled <= 1;
    }
    if (record.kind == JournalRecordKind::Cut) {
        record.cutPart = in.U8();
        record.cutSectors = in.I64();
        return in.Good() && record.cutPart < header.parts.size() && record.cutSectors >= 0 &&
               record.cutSectors <= PartSectors(header, record.cutPart);
    }
    return in.Good();
}

}  // namespace

int64_t RecordedPieces::Packs() const {
    return static_cast<int64_t>(bytes.size()) / kPackSize;
}

void EncodePassRecord(std::vector<uint8_t>& bytes, const PassRecordToEncode& record,
                      const PassTables& tables, JournalCursor& sent) {
    ByteRecordWriter out(bytes);
    out.U8(static_cast<uint8_t>(record.kind));
    PutSnapshot(out, *record.at);
    PutTables(out, record.at->tables, tables, sent);
    PutPartsState(out, *record.files);
    if (record.kind == JournalRecordKind::Checkpoint) {
        PutPieces(out, record.pieces);
        PutMoves(out, record.moves);
        out.U8(record.settled ? 1 : 0);
    } else if (record.kind == JournalRecordKind::Cut) {
        out.U8(record.cutPart);
        out.I64(record.cutSectors);
    }
}

void EncodePointerBatch(std::vector<uint8_t>& bytes, int32_t nextNav,
                        const std::vector<PiecesToRecord>& pieces) {
    ByteRecordWriter out(bytes);
    out.U8(static_cast<uint8_t>(JournalRecordKind::PointerBatch));
    out.I32(nextNav);
    PutPieces(out, &pieces);
}

void EncodeIfoRecord(std::vector<uint8_t>& bytes) {
    ByteRecordWriter out(bytes);
    out.U8(static_cast<uint8_t>(JournalRecordKind::IfoRepair));
}

bool DecodeJournalRecord(const std::vector<uint8_t>& bytes, const JournalHeader& header,
                         JournalRecord& record, PassTables& tables) {
    ByteRecordReader in(bytes.data(), bytes.size());
    record = JournalRecord{};
    record.kind = static_cast<JournalRecordKind>(in.U8());
    switch (record.kind) {
        case JournalRecordKind::Checkpoint:
        case JournalRecordKind::Cut:
        case JournalRecordKind::PassDone:
            return GetPassRecord(in, header, record, tables) && in.AtEnd();
        case JournalRecordKind::PointerBatch:
            record.nextPointerNav = in.I32();
            return in.Good() && record.nextPointerNav >= 0 &&
                   record.nextPointerNav <= static_cast<int64_t>(header.totalSectors) &&
                   GetPieces(in, header, record.pieces) && in.AtEnd();
        case JournalRecordKind::IfoRepair:
            return in.Good() && in.AtEnd();
    }
    return false;
}

std::vector<uint8_t> EncodeJournalHeader(const JournalHeader& h) {
    std::vector<uint8_t> bytes;
    ByteRecordWriter out(bytes);
    out.Bytes(reinterpret_cast<const uint8_t*>(kJournalMagic), sizeof(kJournalMagic));
    out.U32(kJournalVersion);
    for (uint8_t option : {h.options.removeUnrefed, h.options.remapVobIds, h.options.resetIlvu,
                           h.options.fixPgcLbas}) {
        out.U8(option);
    }
    out.U8(h.menu);
    out.Text(h.vobName);
    out.U32(h.totalSectors);
    out.U32(static_cast<uint32_t>(h.parts.size()));
    for (const JournalPart& part : h.parts) {
        out.Text(part.name);
        out.I64(part.size);
        out.U64(part.identity.device);
        out.U64(part.identity.inode);
    }
    out.Text(h.bootId);
    out.Text(h.ifoName);
    out.U32(static_cast<uint32_t>(h.ifo.size()));
    out.Bytes(h.ifo.data(), h.ifo.size());
    return bytes;
}

namespace {

// A name the header may give a file: one of the folder's own, never a path.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

}  // namespace

bool DecodeJournalHeader(const std::vector<uint8_t>& bytes, JournalHeader& h) {
    ByteRecordReader in(bytes.data(), bytes.size());
    const uint8_t* magic = in.Bytes(sizeof(kJournalMagic));
    if (magic == nullptr || std::memcmp(magic, kJournalMagic, sizeof(kJournalMagic)) != 0 ||
        in.U32() != kJournalVersion) {
        return false;
    }
    for (uint8_t* option : {&h.options.removeUnrefed, &h.options.remapVobIds, &h.options.resetIlvu,
                            &h.options.fixPgcLbas}) {
        *option = in.U8();
    }
    h.menu = in.U8();
    h.vobName = in.Text();
    h.totalSectors = in.U32();
    const uint32_t parts = in.U32();
    // A title set has at most nine parts (the menu one).
    if (!in.Good() || parts > 9) {
        return false;
    }
    int64_t sectors = 0;
    for (uint32_t i = 0; i < parts; ++i) {
        JournalPart part;
        part.name = in.Text();
        part.size = in.I64();
        part.identity.device = in.U64();
        part.identity.inode = in.U64();
        if (!IsPlainName(part.name) || part.size < 0) {
            return false;
        }
        sectors += part.size / kPackSize;
        h.parts.push_back(std::move(part));
    }
    h.bootId = in.Text();
    h.ifoName = in.Text();
    const uint32_t ifoSize = in.U32();
    const uint8_t* ifo = in.Bytes(ifoSize);
    if (ifo == nullptr) {
        return false;
    }
    h.ifo.assign(ifo, ifo + ifoSize);
    return in.AtEnd() && IsPlainName(h.vobName) && IsPlainName(h.ifoName) &&
           sectors == h.totalSectors;
}

}  // namespace dorvex
