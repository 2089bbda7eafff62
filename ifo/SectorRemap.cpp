// Old sector numbers become new ones through the navpack lists of the pass: the cell playback
// sectors, the VOBU address map and the time maps follow the packs that moved.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Sinks.h"

namespace dorvex {

// The old list is strictly increasing and the new one non-decreasing, so both conditions turn
// from false to true once along the lists: the first entry meeting both lies at the later of the
// two turning points, the same entry a scan from the start finds.
int32_t MapSector(int32_t sector, const int32_t* oldList, const int32_t* newList, int32_t n,
                  int32_t floor, bool& inexact) {
    inexact = false;
    if (n <= 0) {
        return sector;  // nothing to look at: the stored sector stays
    }
    const int32_t* oldAt = std::lower_bound(oldList, oldList + n, sector);
    const int32_t* newAt = std::upper_bound(newList, newList + n, floor);
    const int64_t i = std::max(oldAt - oldList, newAt - newList);
    if (i >= n) {
        return newList[n - 1];
    }
    inexact = oldList[i] != sector;
    return newList[i];
}

int32_t NavpackMap::MapEnd(int32_t sector, int32_t floor, bool& inexact) const {
    inexact = false;
    if (m_Count > 0) {
        const int32_t* oldAt = std::lower_bound(m_Old, m_Old + m_Count, sector);
        const int32_t* newAt = std::upper_bound(m_New, m_New + m_Count, floor);
        const int64_t i = std::max(oldAt - m_Old, newAt - m_New);
        if (i < m_Count) {
            inexact = m_Old[i] != sector;
            return m_New[i];
        }
    }
    // No navpack qualifies: the end entry is the last one looked at, whether or not it does.
    inexact = m_OldEnd >= sector && m_NewEnd > floor && m_OldEnd != sector;
    return m_NewEnd;
}

namespace {

// A value one past a sector, mapped: r - 1, or 0 when the lookup gave 0.
uint32_t EndBefore(int32_t mapped) {
    return mapped == 0 ? 0 : static_cast<uint32_t>(mapped - 1);
}

// The four sector fields of one cell's playback entry, each logged when its old value was not
// a navpack's sector.
void RemapCellPlayback(const NavpackMap& navpacks, uint16_t pgcn, uint16_t cell,
                       uint8_t* playback) {
    bool inexact = false;
    int32_t v = static_cast<int32_t>(ReadBE32(playback, ifo::kCellFirstVobuStart));
    WriteBE32(playback, ifo::kCellFirstVobuStart,
              static_cast<uint32_t>(navpacks.MapStart(v, -1, inexact)));
    if (inexact) {
        Logf("PGC %d - Cell %d, Original entry sector didn't point to a navpack. Fixed", pgcn,
             cell);
    }

    v = static_cast<int32_t>(ReadBE32(playback, ifo::kCellLastVobuStart));
    const int32_t lastStart = navpacks.MapStart(v, -1, inexact);
    WriteBE32(playback, ifo::kCellLastVobuStart, static_cast<uint32_t>(lastStart));
    if (inexact) {
        Logf("PGC %d - Cell %d, Original last VOBU start LBA didn't point to a navpack. Fixed",
             pgcn, cell);
    }

    v = static_cast<int32_t>(ReadBE32(playback, ifo::kCellLastVobuEnd) + 1);
    WriteBE32(playback, ifo::kCellLastVobuEnd, EndBefore(navpacks.MapEnd(v, lastStart, inexact)));
    if (inexact) {
        Logf("PGC %d - Cell %d, Original last VOBU end LBA + 1 didn't point to a navpack. Fixed",
             pgcn, cell);
    }

    const uint32_t ilvuEnd = ReadBE32(playback, ifo::kCellFirstIlvuEnd);
    if (ilvuEnd != 0 && ilvuEnd != 0xFFFFFFFFu) {
        v = static_cast<int32_t>(ilvuEnd + 1);
        WriteBE32(playback, ifo::kCellFirstIlvuEnd, EndBefore(navpacks.MapEnd(v, -1, inexact)));
        if (inexact) {
            Logf("PGC %d - Cell %d, Original first ILVU end LBA didn't point to a navpack. Fixed",
                 pgcn, cell);
        }
    }
}

// The new VOBU starts for the address map. Several dropped navpacks that share one new position
// give one value, and navpacks dropped at the very end share the end's position, where no VOBU
// starts.
void CollectVobuStarts(const NavpackMap& navpacks, std::vector<int32_t>& starts) {
    starts.clear();
    for (int32_t i = 0; i < navpacks.Navpacks(); ++i) {
        const int32_t sector = navpacks.New(i);
        if ((i == 0 || sector != navpacks.New(i - 1)) && sector != navpacks.NewEnd()) {
            starts.push_back(sector);
        }
    }
}

}  // namespace

void CIfoFile::UpdateCellSectors(const NavpackMap& navpacks, bool menu) {
    // With only the end entry there are no navpacks to map to; the cells keep their sectors.
    if (navpacks.Navpacks() > 0) {
        ForEachCell(menu, [&](uint16_t, uint16_t pgcn, uint16_t cell, uint8_t* playback, uint8_t*) {
            RemapCellPlayback(navpacks, pgcn, cell, playback);
        });
    }
    CollectVobuStarts(navpacks, m_pSectorList);
    m_nSectorCount = static_cast<int32_t>(m_pSectorList.size());
    RebuildVobuAdmap(menu);
}

void CIfoFile::RebuildVobuAdmap(bool menu) {
    const int32_t index = menu ? IfoMenuVobuAdmap : IfoVtsVobuAdmap;
    uint8_t* table = GetTable(index);
    if (table == nullptr) {
        return;
    }
    const int64_t oldCount =
        std::max<int64_t>(0, (static_cast<int64_t>(GetTableEnd(index)) + 1) / 4 - 1);
    for (int64_t i = m_nSectorCount; i < oldCount; ++i) {
        uint8_t* entry = table + ifo::kAdmapEntries + i * ifo::kAdmapEntrySize;
        if (!Contains(entry, ifo::kAdmapEntrySize)) {
            break;
        }
        WriteBE32(entry, 0, 0);
    }
    ResizeTable(index, static_cast<int32_t>((m_nSectorCount - oldCount) * ifo::kAdmapEntrySize));
    table = GetTable(index);  // the image buffer may have moved
    for (int32_t i = 0; i < m_nSectorCount; ++i) {
        uint8_t* entry = table + ifo::kAdmapEntries + i * ifo::kAdmapEntrySize;
        if (!Contains(entry, ifo::kAdmapEntrySize)) {
            break;
        }
        WriteBE32(entry, 0, static_cast<uint32_t>(m_pSectorList[static_cast<size_t>(i)]));
    }
    if (m_bVmg && m_nSectorCount == 0) {
        WriteBE32(Data(), ifo::kMenuVobuAdmap, 0);
        WriteBE32(Data(), ifo::kMenuVobsSector, 0);
        return;
    }
    WriteBE32(table, ifo::kAdmapEnd,
              static_cast<uint32_t>(m_nSectorCount * ifo::kAdmapEntrySize + 3));
}

namespace {

// The last byte of a time map of `entries` entries at mapOffset in its table.
int64_t TimeMapEnd(uint32_t mapOffset, int64_t entries) {
    return mapOffset + ifo::kTmapEntries + ifo::kTmapEntrySize * entries - 1;
}

// Maps one time map's entries to the new stream in place and returns how many are kept: entries
// that land on one VOBU become one, keeping the first one's discontinuity bit.
int32_t RemapTimeMapEntries(CIfoFile& ifo, uint8_t* map, const NavpackMap& navpacks) {
    const uint16_t entries = ReadBE16(map, ifo::kTmapEntryCount);
    int32_t previous = -1;
    int32_t kept = 0;
    for (int32_t e = 0; e < entries; ++e) {
        const int32_t at = ifo::kTmapEntries + ifo::kTmapEntrySize * e;
        if (!ifo.Contains(map + at, ifo::kTmapEntrySize)) {
            break;
        }
        const uint32_t entry = ReadBE32(map, at);
        bool inexact = false;
        const int32_t mapped =
            navpacks.MapStart(static_cast<int32_t>(entry & ~ifo::kTmapDiscontinuity), -1, inexact);
        // Entries of packs dropped at the very end map to the end of the stream, where no VOBU
        // starts: a player would seek past the last pack.
        if (navpacks.Navpacks() > 0 && mapped >= navpacks.NewEnd()) {
            break;
        }
        if (mapped != previous) {
            WriteBE32(map, ifo::kTmapEntries + ifo::kTmapEntrySize * kept,
                      static_cast<uint32_t>(mapped) | (entry & ifo::kTmapDiscontinuity));
            ++kept;
        }
        previous = mapped;
    }
    WriteBE16(map, ifo::kTmapEntryCount, static_cast<uint32_t>(kept));
    return kept;
}

// The table's end address becomes the last byte of its farthest map.
void ResizeTimeMapTable(CIfoFile& ifo, int64_t newEnd) {
    // The change is taken against the end address as it is now: a damaged map that lies over
    // the table's own header has just rewritten it, and a change from an end address that an
    // earlier step wrote over could exceed 32 bits and wrap into a growth of gigabytes.
    const int64_t delta = newEnd - static_cast<int64_t>(ifo.GetTableEnd(IfoVtsTmapt));
    if (delta >= INT32_MIN && delta <= INT32_MAX) {
        ifo.ResizeTable(IfoVtsTmapt, static_cast<int32_t>(delta));
    }
    WriteBE32(ifo.GetTable(IfoVtsTmapt), ifo::kTableEnd, static_cast<uint32_t>(newEnd));
}

}  // namespace

void CIfoFile::RebuildTimeMaps(const NavpackMap& navpacks) {
    uint8_t* table = GetTable(IfoVtsTmapt);
    if (table == nullptr) {
        return;
    }
    const uint16_t maps = ReadBE16(table, ifo::kTableCount);
    int64_t newEnd = 0;
    // Program chains may share one time map: it is rebuilt once, or its entries would be
    // taken for old sectors a second time.
    std::vector<uint32_t> rebuilt;
    for (uint32_t m = 0; m < maps; ++m) {
        const int64_t pointer =
            ifo::kTmapPointers + ifo::kTmapPointerSize * static_cast<int64_t>(m);
        if (!Contains(table + pointer, ifo::kTmapPointerSize)) {
            break;
        }
        const uint32_t mapOffset = ReadBE32(table, static_cast<int32_t>(pointer));
        uint8_t* map = table + mapOffset;
        if (!Contains(map, ifo::kTmapEntries)) {
            continue;
        }
        int64_t entries = ReadBE16(map, ifo::kTmapEntryCount);
        if (std::find(rebuilt.begin(), rebuilt.end(), mapOffset) == rebuilt.end()) {
            rebuilt.push_back(mapOffset);
            entries = RemapTimeMapEntries(*this, map, navpacks);
        }
        newEnd = std::max(newEnd, TimeMapEnd(mapOffset, entries));
    }
    ResizeTimeMapTable(*this, newEnd);
}

}  // namespace dorvex
