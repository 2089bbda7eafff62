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

}  // namespace

void CIfoFile::CheckPgcSectors(const CellTableEntry* cells, int32_t count, bool menu) {
    std::unordered_map<int32_t, int32_t> firstRecord;
    for (int32_t i = count - 1; i >= 0; --i) {
        firstRecord[PackVcid(cells[i].vobId, cells[i].cellId)] = i;
    }

    // Each language unit is walked once and each PGC checked once per pass, however many search
    // pointers lead to them (see ForEachCell).
    std::unordered_set<const uint8_t*> checked[2];
    std::unordered_set<const uint8_t*> units;
    const uint16_t lastLu = LastLanguageUnit(menu);
    for (uint32_t unit = FirstLanguageUnit(menu); unit <= lastLu; ++unit) {
        const uint16_t lu = static_cast<uint16_t>(unit);
        if (lu != 0 && !units.insert(GetLanguageUnit(lu)).second) {
            continue;
        }
        bool haveReference = false;
        CellRef reference;
        for (int pass = 0; pass < 2; ++pass) {
            bool missing = false;
            const uint16_t pgcs = GetPgcCount(lu);
            for (uint32_t p = 1; p <= pgcs; ++p) {
                const uint16_t pgcn = static_cast<uint16_t>(p);
                const uint8_t* pgc = GetPgc(lu, pgcn);
                if (pgc == nullptr || !checked[pass].insert(pgc).second) {
                    continue;
                }
                const uint8_t cellCount = GetCellCount(lu, pgcn);
                for (uint32_t c = 1; c <= cellCount; ++c) {
                    const uint16_t cell = static_cast<uint16_t>(c);
                    uint8_t* playback = GetCellPlayback(lu, pgcn, cell);
                    uint8_t* position = GetCellPosition(lu, pgcn, cell);
                    if (playback == nullptr || position == nullptr) {
                        continue;
                    }
                    const uint16_t w = ReadBE16(position, ifo::kCellPositionVobId);
                    const uint8_t v = position[ifo::kCellPositionCellId];
                    uint32_t g = ReadBE32(playback, ifo::kCellFirstVobuStart);
                    const uint32_t h = ReadBE32(playback, ifo::kCellFirstIlvuEnd);
                    uint32_t o = ReadBE32(playback, ifo::kCellLastVobuStart);
                    uint32_t t = ReadBE32(playback, ifo::kCellLastVobuEnd);

                    auto found = firstRecord.find(PackVcid(w, v));
                    if (found == firstRecord.end()) {
                        if (pass == 0) {
                            Logf("PGC %d Cell %d references VCID %d/%d not found in VOB", pgcn,
                                 cell, w, v);
                        }
                        missing = true;
                        if (pass == 1 && haveReference) {
                            int32_t cover = -1;
                            for (int32_t i = 0; i < count; ++i) {
                                if (static_cast<uint32_t>(cells[i].firstLba) <= g &&
                                    static_cast<uint32_t>(cells[i].lastLba) >= t) {
                                    cover = i;
                                    break;
                                }
                            }
                            if (cover >= 0) {
                                WriteBE16(position, ifo::kCellPositionVobId, cells[cover].vobId);
                                position[ifo::kCellPositionCellId] = cells[cover].cellId;
                                Logf("Correcting VCID of PGC %d Cell %d to %d/%d", pgcn, cell,
                                     cells[cover].vobId, cells[cover].cellId);
                            } else {
                                const uint8_t* refPlayback =
                                    GetCellPlayback(lu, reference.pgcn, reference.cell);
                                const uint8_t* refPosition =
                                    GetCellPosition(lu, reference.pgcn, reference.cell);
                                if (refPlayback != nullptr && refPosition != nullptr) {
                                    memmove(position, refPosition, ifo::kCellPositionSize);
                                    memmove(playback, refPlayback, ifo::kCellPlaybackSize);
                                    Logf("Remapping PGC %d Cell %d to %d/%d", pgcn, cell,
                                         ReadBE16(refPosition, ifo::kCellPositionVobId),
                                         refPosition[ifo::kCellPositionCellId]);
                                }
                            }
                        }
                        continue;
                    }

                    if (!haveReference) {
                        haveReference = true;
                        reference = {pgcn, cell};
                    }
                    if ((playback[ifo::kCellCategory] & kUncheckedCategories) != 0) {
                        continue;
                    }
                    const uint32_t first = static_cast<uint32_t>(cells[found->second].firstLba);
                    const uint32_t last = static_cast<uint32_t>(cells[found->second].lastLba);
                    // A cell's first VOBU starts on its first sector: any other value, even
                    // one inside the cell, makes a player skip the cell's opening VOBUs.
                    if (g != first) {
                        Logf("PGC %d - Cell %d, adjusting First Vobu Start LBA", pgcn, cell);
                        g = first;
                    }
                    if (o < first || o >= last) {
                        Logf("PGC %d - Cell %d, Adjusting Last Vobu Start LBA", pgcn, cell);
                        o = first;
                    }
                    if (t < first || t > last) {
                        t = last;
                        Logf("PGC %d - Cell %d, Adjusting Last Vobu End LBA", pgcn, cell);
                    }
                    WriteBE32(playback, ifo::kCellFirstVobuStart, g);
                    WriteBE32(playback, ifo::kCellFirstIlvuEnd, h);
                    WriteBE32(playback, ifo::kCellLastVobuStart, o);
                    WriteBE32(playback, ifo::kCellLastVobuEnd, t);
                }
            }
            if (pass == 1 || !haveReference || !missing) {
                break;
            }
        }
    }
}

}  // namespace dorvex
