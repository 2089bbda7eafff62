// Program chains, language units and cell entries addressed by number inside the image. Every
// offset read from the file is checked against the image: a structure that does not fit counts
// as absent.
#include <algorithm>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex {

namespace {

// Search pointer n (from 1) of a unit table, language unit or PGCIT: its u32 offset.
int64_t SearchPointerOffset(uint16_t n) {
    return static_cast<int64_t>(n) * ifo::kSearchPointerSize + ifo::kSearchPointerOffset;
}

// Bytes of a PGC that the repair reads: up to the cell position table offset.
constexpr int64_t kPgcFixedPart = ifo::kPgcCellPositionOffset + 2;

// The count of a unit table, language unit or PGCIT, cut to the search pointers that lie inside
// the image. Pointers past it count as absent anyway; a damaged count of tens of thousands would
// otherwise make every walk over units and PGCs look at each of them for every unit.
uint16_t SearchPointerCount(CIfoFile& ifo, const uint8_t* table) {
    const int64_t room = ifo.ImageSize() - (table - ifo.Data()) - ifo::kTableEntries;
    const int64_t fit = room < 0 ? 0 : room / ifo::kSearchPointerSize;
    return static_cast<uint16_t>(std::min<int64_t>(ReadBE16(table, ifo::kTableCount), fit));
}

}  // namespace

uint16_t CIfoFile::GetLanguageUnitCount() {
    uint8_t* table = GetTable(IfoMenuPgciUt);
    return table == nullptr ? 0 : SearchPointerCount(*this, table);
}

uint8_t* CIfoFile::GetLanguageUnit(uint16_t lu) {
    uint8_t* table = GetTable(IfoMenuPgciUt);
    const int64_t pointer = SearchPointerOffset(lu);
    if (table == nullptr || !Contains(table + pointer, 4)) {
        return nullptr;
    }
    uint8_t* unit = table + ReadBE32(table, static_cast<int32_t>(pointer));
    return Contains(unit, ifo::kTableEntries) ? unit : nullptr;
}

uint16_t CIfoFile::GetPgcCount(uint16_t lu) {
    if (lu != 0) {
        uint8_t* unit = GetLanguageUnit(lu);
        return unit == nullptr ? 0 : SearchPointerCount(*this, unit);
    }
    if (m_bVmg) {
        return ReadBE32(Data(), ifo::kVmgFirstPlayPgcByte) != 0 ? 1 : 0;
    }
    uint8_t* pgcit = GetTable(IfoVtsPgcit);
    return pgcit == nullptr ? 0 : SearchPointerCount(*this, pgcit);
}

uint8_t* CIfoFile::GetPgc(uint16_t lu, uint16_t pgcn) {
    uint8_t* pgc = nullptr;
    if (lu == 0 && (pgcn == 0 || m_bVmg)) {
        pgc = GetTable(IfoFirstPlayPgc);
    } else {
        uint8_t* container = lu == 0 ? GetTable(IfoVtsPgcit) : GetLanguageUnit(lu);
        const int64_t pointer = SearchPointerOffset(pgcn);
        if (container == nullptr || !Contains(container + pointer, 4)) {
            return nullptr;
        }
        pgc = container + ReadBE32(container, static_cast<int32_t>(pointer));
    }
    return Contains(pgc, kPgcFixedPart) ? pgc : nullptr;
}

uint8_t CIfoFile::GetCellCount(uint16_t lu, uint16_t pgcn) {
    uint8_t* pgc = GetPgc(lu, pgcn);
    return pgc == nullptr ? 0 : pgc[ifo::kPgcCellCount];
}

uint8_t* CIfoFile::GetCellEntry(uint16_t lu, uint16_t pgcn, uint16_t cell, int32_t tableField,
                                int32_t entrySize) {
    uint8_t* pgc = GetPgc(lu, pgcn);
    if (pgc == nullptr || cell == 0 || cell > pgc[ifo::kPgcCellCount]) {
        return nullptr;
    }
    uint8_t* entry = pgc + ReadBE16(pgc, tableField) + (cell - 1) * entrySize;
    return Contains(entry, entrySize) ? entry : nullptr;
}

uint8_t* CIfoFile::GetCellPlayback(uint16_t lu, uint16_t pgcn, uint16_t cell) {
    return GetCellEntry(lu, pgcn, cell, ifo::kPgcCellPlaybackOffset, ifo::kCellPlaybackSize);
}

uint8_t* CIfoFile::GetCellPosition(uint16_t lu, uint16_t pgcn, uint16_t cell) {
    return GetCellEntry(lu, pgcn, cell, ifo::kPgcCellPositionOffset, ifo::kCellPositionSize);
}

bool CIfoFile::IsVcidReferenced(uint16_t vobId, uint8_t cellId, bool menu) {
    bool found = false;
    ForEachCell(menu, [&](uint16_t, uint16_t, uint16_t, uint8_t*, uint8_t* position) {
        if (!found && ReadBE16(position, ifo::kCellPositionVobId) == vobId &&
            position[ifo::kCellPositionCellId] == cellId) {
            found = true;
        }
    });
    return found;
}

}  // namespace dorvex
