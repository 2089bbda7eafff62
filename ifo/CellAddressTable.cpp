// The cell identities of the IFO after a pass: PGC cells take their new VOB and cell IDs, and
// the domain's cell address table is rebuilt from the engine's cell table.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex {

void CIfoFile::RemapCellPositions(const VcidMapEntry* map, int32_t mapCount, bool menu) {
    // The first record with a matching old pair wins, as a scan from the start would find it.
    std::unordered_map<int32_t, const VcidMapEntry*> firstMatch;
    for (int32_t i = mapCount - 1; i >= 0; --i) {
        firstMatch[PackVcid(map[i].oldVobId, map[i].oldCellId)] = &map[i];
    }
    ForEachCell(menu, [&](uint16_t, uint16_t, uint16_t, uint8_t*, uint8_t* position) {
        auto it = firstMatch.find(PackVcid(ReadBE16(position, ifo::kCellPositionVobId),
                                           position[ifo::kCellPositionCellId]));
        if (it != firstMatch.end()) {
            WriteBE16(position, ifo::kCellPositionVobId, it->second->newVobId);
            position[ifo::kCellPositionCellId] = it->second->newCellId;
        }
    });
}

void CIfoFile::RebuildCellAddressTable(const CellTableEntry* cells, int32_t count, bool menu) {
    const int32_t index = menu ? IfoMenuCAdt : IfoVtsCAdt;
    uint8_t* table = GetTable(index);
    if (table == nullptr) {
        return;
    }
    const uint32_t end = GetTableEnd(index);
    // A table whose end address is below its own header has no entries.
    const int32_t oldCount =
        end < 7 ? 0 : static_cast<int32_t>(((end - 7) / ifo::kCAdtEntrySize) & 0xFFFF);
    for (int32_t i = 0; i < oldCount; ++i) {
        uint8_t* entry = table + ifo::kTableEntries + i * ifo::kCAdtEntrySize;
        if (!Contains(entry, ifo::kCAdtEntrySize)) {
            break;
        }
        std::fill(entry, entry + ifo::kCAdtEntrySize, uint8_t{0});
    }
    if (oldCount != count) {
        ResizeTable(index, (count - oldCount) * ifo::kCAdtEntrySize);
        table = GetTable(index);  // the image buffer may have moved
        WriteBE32(table, ifo::kTableEnd, static_cast<uint32_t>(count * ifo::kCAdtEntrySize + 7));
    }
    if (m_bVmg && count == 0) {
        WriteBE32(Data(), ifo::kMenuCAdt, 0);
        return;
    }

    // Cells grouped by VOB ID in order of first appearance, stream order inside a group.
    std::vector<uint16_t> groupOrder;
    std::unordered_map<uint16_t, std::vector<int32_t>> groups;
    for (int32_t i = 0; i < count; ++i) {
        auto [it, added] = groups.try_emplace(cells[i].vobId);
        if (added) {
            groupOrder.push_back(cells[i].vobId);
        }
        it->second.push_back(i);
    }
    // Readers take the count as the highest VOB ID an entry may carry (libdvdread checks each
    // entry against it). Renumbered VOB IDs run 1..N, so both are the same; VOB IDs kept as they
    // were may leave a gap below the highest where a whole VOB was dropped.
    uint32_t vobCount = static_cast<uint32_t>(groupOrder.size());
    for (uint16_t vobId : groupOrder) {
        vobCount = std::max<uint32_t>(vobCount, vobId);
    }
    int32_t written = 0;
    for (uint16_t vobId : groupOrder) {
        for (int32_t i : groups[vobId]) {
            uint8_t* entry = table + ifo::kTableEntries + written * ifo::kCAdtEntrySize;
            if (!Contains(entry, ifo::kCAdtEntrySize)) {
                break;
            }
            WriteBE16(entry, ifo::kCAdtVobId, cells[i].vobId);
            entry[ifo::kCAdtCellId] = cells[i].cellId;
            entry[ifo::kCAdtReserved] = 0;
            WriteBE32(entry, ifo::kCAdtFirstSector, static_cast<uint32_t>(cells[i].firstLba));
            WriteBE32(entry, ifo::kCAdtLastSector, static_cast<uint32_t>(cells[i].lastLba));
            ++written;
        }
    }
    WriteBE16(table, ifo::kTableCount, vobCount);
}

}  // namespace dorvex
