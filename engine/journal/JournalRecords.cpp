#include "engine/journal/JournalRecords.h"

#include <algorithm>
#include <cstring>

#include "engine/PackLayout.h"
#include "support/ByteRecord.h"
#include "support/Fingerprint.h"

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

void PutWrite(ByteRecordWriter& out, const WriteToRecord& write) {
    out.Text(*write.file);
    out.I64(write.sector);
    // Packs copied from another file are kept as they are: that file is no source to go back to.
    if (write.copiedFrom < 0) {
        out.U32(static_cast<uint32_t>(write.literalPacks + write.copiedPacks));
        out.Bytes(write.literal, static_cast<size_t>(write.literalPacks * kPackSize));
        out.Bytes(write.copied, static_cast<size_t>(write.copiedPacks * kPackSize));
        out.I64(0);
        out.I64(0);
        out.U32(0);
        return;
    }
    out.U32(static_cast<uint32_t>(write.literalPacks));
    out.Bytes(write.literal, static_cast<size_t>(write.literalPacks * kPackSize));
    out.I64(write.copiedPacks);
    out.I64(write.copiedFrom);
    // A copied pack whose source lies past the write's end is still there, unchanged, however
    // much of the write reached the file; only the others need telling apart.
    const int64_t end = write.sector + write.literalPacks + write.copiedPacks;
    const int64_t exposed = std::clamp<int64_t>(end - write.copiedFrom, 0, write.copiedPacks);
    out.U32(static_cast<uint32_t>(exposed));
    for (int64_t i = 0; i < exposed; ++i) {
        out.U64(Fingerprint(write.copied + i * kPackSize, static_cast<size_t>(kPackSize)));
    }
}

bool GetWrite(ByteRecordReader& in, RecordedWrite& write) {
    write.file = in.Text();
    write.sector = in.I64();
    const uint32_t literalPacks = in.U32();
    if (!in.Good() || literalPacks > in.Left() / kPackSize) {
        return false;
    }
    const uint8_t* literal = in.Bytes(static_cast<size_t>(literalPacks * kPackSize));
    write.literal.assign(literal, literal + literalPacks * kPackSize);
    write.copiedPacks = in.I64();
    write.copiedFrom = in.I64();
    const uint32_t fingerprints = in.U32();
    if (!in.Good() || write.copiedPacks < 0 || fingerprints > write.copiedPacks ||
        fingerprints > in.Left() / 8) {
        return false;
    }
    write.fingerprints.resize(fingerprints);
    for (uint64_t& each : write.fingerprints) {
        each = in.U64();
    }
    // Names come from the journal's own folder only.
    return in.Good() && !write.file.empty() && write.file.find('/') == std::string::npos &&
           write.sector >= 0 && write.copiedFrom >= 0;
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

}  // namespace

int64_t RecordedWrite::LiteralPacks() const {
    return static_cast<int64_t>(literal.size()) / kPackSize;
}

void EncodePassRecord(std::vector<uint8_t>& bytes, JournalRecordKind kind, const PassSnapshot& at,
                      const PassTables& tables, JournalCursor& sent) {
    ByteRecordWriter out(bytes);
    out.U8(static_cast<uint8_t>(kind));
    PutSnapshot(out, at);
    const TableExtent& extent = at.tables;

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
    // The open cell is carried again by every record, from the snapshot: the table's entry may
    // have moved on since the snapshot was taken.
    PutRange(out, sent.cells, extent.cellCount - sent.cells + 1);
    for (int32_t i = sent.cells; i < extent.cellCount; ++i) {
        PutCell(out, tables.m_Cells[static_cast<size_t>(i)]);
    }
    PutCell(out, extent.openCell);
    // Likewise the last removed run, which the next removal may lengthen.
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

void EncodeWrite(std::vector<uint8_t>& bytes, const WriteToRecord& write) {
    ByteRecordWriter out(bytes);
    PutWrite(out, write);
}

void EncodeTruncate(std::vector<uint8_t>& bytes, const std::string& file, int64_t sectors) {
    ByteRecordWriter out(bytes);
    out.Text(file);
    out.I64(sectors);
}

void EncodePointerRecord(std::vector<uint8_t>& bytes, int32_t nav, const WriteToRecord& write) {
    ByteRecordWriter out(bytes);
    out.U8(static_cast<uint8_t>(JournalRecordKind::PointerWrite));
    out.I32(nav);
    PutWrite(out, write);
}

void EncodeIfoRecord(std::vector<uint8_t>& bytes) {
    ByteRecordWriter out(bytes);
    out.U8(static_cast<uint8_t>(JournalRecordKind::IfoRepair));
}

bool DecodeJournalRecord(const std::vector<uint8_t>& bytes, JournalRecord& record,
                         PassTables& tables) {
    ByteRecordReader in(bytes.data(), bytes.size());
    record = JournalRecord{};
    record.kind = static_cast<JournalRecordKind>(in.U8());
    switch (record.kind) {
        case JournalRecordKind::PassWrite:
        case JournalRecordKind::PassTruncate:
        case JournalRecordKind::PassDone: {
            record.at = GetSnapshot(in);
            if (!GetTables(in, tables)) {
                return false;
            }
            if (record.kind == JournalRecordKind::PassWrite) {
                return GetWrite(in, record.write) && in.AtEnd();
            }
            if (record.kind == JournalRecordKind::PassTruncate) {
                record.write.file = in.Text();
                record.truncateSectors = in.I64();
                return in.Good() && in.AtEnd() && !record.write.file.empty() &&
                       record.write.file.find('/') == std::string::npos &&
                       record.truncateSectors >= 0;
            }
            return in.Good() && in.AtEnd();
        }
        case JournalRecordKind::PointerWrite:
            record.pointerNav = in.I32();
            return GetWrite(in, record.write) && in.AtEnd() && record.pointerNav >= 0;
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
    out.U32(static_cast<uint32_t>(h.partNames.size()));
    for (size_t i = 0; i < h.partNames.size(); ++i) {
        out.Text(h.partNames[i]);
        out.I64(h.partSizes[i]);
    }
    out.Text(h.bootId);
    out.Text(h.ifoName);
    out.U32(static_cast<uint32_t>(h.ifo.size()));
    out.Bytes(h.ifo.data(), h.ifo.size());
    return bytes;
}

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
    if (!in.Good() || parts > in.Left()) {
        return false;
    }
    for (uint32_t i = 0; i < parts; ++i) {
        h.partNames.push_back(in.Text());
        h.partSizes.push_back(in.I64());
    }
    h.bootId = in.Text();
    h.ifoName = in.Text();
    const uint32_t ifoSize = in.U32();
    const uint8_t* ifo = in.Bytes(ifoSize);
    if (ifo == nullptr) {
        return false;
    }
    h.ifo.assign(ifo, ifo + ifoSize);
    return in.AtEnd() && !h.vobName.empty() && h.vobName.find('/') == std::string::npos &&
           h.ifoName.find('/') == std::string::npos;
}

}  // namespace dorvex
