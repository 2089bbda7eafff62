// Program-chain cells whose VOB/cell ID pair is not in the written stream are repointed or
// replaced, and the sector fields of ordinary cells are clamped into their cell's range.
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

struct CellRef {
    uint16_t pgcn = 0;
    uint16_t cell = 0;
};

// Cells of an angle block, and interleaved cells, span other cells' sectors by design.
constexpr uint8_t kUncheckedCategories = ifo::kCategoryBlockTypeMask | ifo::kCategoryInterleaved;

// The check of one domain. A language unit is checked in up to two passes: the first clamps the
// cells whose pair the stream has and reports those it lacks; when there are such cells and a
// cell to take their place, the second repoints them.
class PgcSectorCheck {
  public:
    PgcSectorCheck(CIfoFile& ifo, const CellTableEntry* cells, int32_t count)
        : m_Ifo(ifo), m_Cells(cells), m_Count(count) {
        for (int32_t i = count - 1; i >= 0; --i) {
            m_FirstRecord[PackVcid(cells[i].vobId, cells[i].cellId)] = i;
        }
    }

    void CheckUnit(uint16_t lu) {
        m_HaveReference = false;
        for (int pass = 0; pass < 2; ++pass) {
            m_Missing = false;
            const uint16_t pgcs = m_Ifo.GetPgcCount(lu);
            for (uint32_t p = 1; p <= pgcs; ++p) {
                const uint16_t pgcn = static_cast<uint16_t>(p);
                const uint8_t* pgc = m_Ifo.GetPgc(lu, pgcn);
                // Each PGC is checked once per pass, however many search pointers lead to it.
                if (pgc == nullptr || !m_Checked[pass].insert(pgc).second) {
                    continue;
                }
                const uint8_t cellCount = m_Ifo.GetCellCount(lu, pgcn);
                for (uint32_t c = 1; c <= cellCount; ++c) {
                    CheckCell(lu, pgcn, static_cast<uint16_t>(c), pass);
                }
            }
            if (pass == 1 || !m_HaveReference || !m_Missing) {
                break;
            }
        }
    }

  private:
    void CheckCell(uint16_t lu, uint16_t pgcn, uint16_t cell, int pass) {
        uint8_t* playback = m_Ifo.GetCellPlayback(lu, pgcn, cell);
        uint8_t* position = m_Ifo.GetCellPosition(lu, pgcn, cell);
        if (playback == nullptr || position == nullptr) {
            return;
        }
        const uint16_t vobId = ReadBE16(position, ifo::kCellPositionVobId);
        const uint8_t cellId = position[ifo::kCellPositionCellId];
        auto found = m_FirstRecord.find(PackVcid(vobId, cellId));
        if (found == m_FirstRecord.end()) {
            if (pass == 0) {
                Logf("PGC %d Cell %d references VCID %d/%d not found in VOB", pgcn, cell, vobId,
                     cellId);
            }
            m_Missing = true;
            if (pass == 1 && m_HaveReference) {
                RepointMissingCell(lu, pgcn, cell, playback, position);
            }
            return;
        }
        if (!m_HaveReference) {
            m_HaveReference = true;
            m_Reference = {pgcn, cell};
        }
        if ((playback[ifo::kCellCategory] & kUncheckedCategories) == 0) {
            ClampIntoCell(pgcn, cell, playback, m_Cells[found->second]);
        }
    }

    // A cell whose pair is gone takes the pair of the stream's cell that covers its sectors,
    // or else becomes a copy of the unit's first cell that was found.
    void RepointMissingCell(uint16_t lu, uint16_t pgcn, uint16_t cell, uint8_t* playback,
                            uint8_t* position) {
        const uint32_t first = ReadBE32(playback, ifo::kCellFirstVobuStart);
        const uint32_t last = ReadBE32(playback, ifo::kCellLastVobuEnd);
        for (int32_t i = 0; i < m_Count; ++i) {
            if (static_cast<uint32_t>(m_Cells[i].firstLba) <= first &&
                static_cast<uint32_t>(m_Cells[i].lastLba) >= last) {
                WriteBE16(position, ifo::kCellPositionVobId, m_Cells[i].vobId);
                position[ifo::kCellPositionCellId] = m_Cells[i].cellId;
                Logf("Correcting VCID of PGC %d Cell %d to %d/%d", pgcn, cell, m_Cells[i].vobId,
                     m_Cells[i].cellId);
                return;
            }
        }
        const uint8_t* refPlayback = m_Ifo.GetCellPlayback(lu, m_Reference.pgcn, m_Reference.cell);
        const uint8_t* refPosition = m_Ifo.GetCellPosition(lu, m_Reference.pgcn, m_Reference.cell);
        if (refPlayback != nullptr && refPosition != nullptr) {
            memmove(position, refPosition, ifo::kCellPositionSize);
            memmove(playback, refPlayback, ifo::kCellPlaybackSize);
            Logf("Remapping PGC %d Cell %d to %d/%d", pgcn, cell,
                 ReadBE16(refPosition, ifo::kCellPositionVobId),
                 refPosition[ifo::kCellPositionCellId]);
        }
    }

    static void ClampIntoCell(uint16_t pgcn, uint16_t cell, uint8_t* playback,
                              const CellTableEntry& record) {
        const uint32_t first = static_cast<uint32_t>(record.firstLba);
        const uint32_t last = static_cast<uint32_t>(record.lastLba);
        // A cell's first VOBU starts on its first sector: any other value, even one inside the
        // cell, makes a player skip the cell's opening VOBUs.
        if (ReadBE32(playback, ifo::kCellFirstVobuStart) != first) {
            Logf("PGC %d - Cell %d, adjusting First Vobu Start LBA", pgcn, cell);
            WriteBE32(playback, ifo::kCellFirstVobuStart, first);
        }
        const uint32_t lastStart = ReadBE32(playback, ifo::kCellLastVobuStart);
        if (lastStart < first || lastStart >= last) {
            Logf("PGC %d - Cell %d, Adjusting Last Vobu Start LBA", pgcn, cell);
            WriteBE32(playback, ifo::kCellLastVobuStart, first);
        }
        const uint32_t lastEnd = ReadBE32(playback, ifo::kCellLastVobuEnd);
        if (lastEnd < first || lastEnd > last) {
            WriteBE32(playback, ifo::kCellLastVobuEnd, last);
            Logf("PGC %d - Cell %d, Adjusting Last Vobu End LBA", pgcn, cell);
        }
    }

    CIfoFile& m_Ifo;
    const CellTableEntry* m_Cells;
    int32_t m_Count;
    std::unordered_map<int32_t, int32_t> m_FirstRecord;  // first table entry of each pair
    std::unordered_set<const uint8_t*> m_Checked[2];     // PGCs checked, per pass
    bool m_HaveReference = false;
    CellRef m_Reference;
    bool m_Missing = false;
};

}  // namespace

void CIfoFile::CheckPgcSectors(std::span<const CellTableEntry> cells, bool menu) {
    PgcSectorCheck check(*this, cells.data(), static_cast<int32_t>(cells.size()));
    // Each language unit is walked once, however many search pointers lead to it (see
    // ForEachCell).
    std::unordered_set<const uint8_t*> units;
    const uint16_t lastLu = LastLanguageUnit(menu);
    for (uint32_t unit = FirstLanguageUnit(menu); unit <= lastLu; ++unit) {
        const uint16_t lu = static_cast<uint16_t>(unit);
        if (lu != 0 && !units.insert(GetLanguageUnit(lu)).second) {
            continue;
        }
        check.CheckUnit(lu);
    }
}

}  // namespace dorvex
