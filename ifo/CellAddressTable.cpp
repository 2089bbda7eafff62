// The cell identities of the IFO after a pass: PGC cells take their new VOB and cell IDs, and
// the domain's cell address table is rebuilt from the engine's cell table.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex {

void CIfoFile::RemapCellPositions(std::span<const VcidMapEntry> map, bool menu) {
    // The first record with a matching old pair wins, as a scan from the start would find it.
    std::unordered_map<int32_t, const VcidMapEntry*> firstMatch;
    for (auto entry = map.rbegin(); entry != map.rend(); ++entry) {
        firstMatch[PackVcid(entry->oldVobId, entry->oldCellId)] = &*entry;
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

namespace {

// The end address is that of the table's last byte.
constexpr int32_t kLastHeaderByte = ifo::kTableEntries - 1;

// Zeroes the entries the table holds now and resizes it to `count` entries; the table where it
// lies afterwards (the image buffer may have moved).
uint8_t* ClearAndResize(CIfoFile& ifo, int32_t index, int32_t count) {
    uint8_t* table = ifo.GetTable(index);
    const uint32_t end = ifo.GetTableEnd(index);
    // A table whose end address is below its own header has no entries.
    const int32_t oldCount =
        end < kLastHeaderByte
            ? 0
            : static_cast<int32_t>(((end - kLastHeaderByte) / ifo::kCAdtEntrySize) & 0xFFFF);
    for (int32_t i = 0; i < oldCount; ++i) {
        uint8_t* entry = table + ifo::kTableEntries + i * ifo::kCAdtEntrySize;
        if (!ifo.Contains(entry, ifo::kCAdtEntrySize)) {
            break;
        }
        std::fill(entry, entry + ifo::kCAdtEntrySize, uint8_t{0});
    }
    if (oldCount != count) {
        ifo.ResizeTable(index, (count - oldCount) * ifo::kCAdtEntrySize);
        table = ifo.GetTable(index);
        WriteBE32(table, ifo::kTableEnd,
                  static_cast<uint32_t>(count * ifo::kCAdtEntrySize + kLastHeaderByte));
    }
    return table;
}

// Cells grouped by VOB ID in order of first appearance, stream order inside a group.
std::vector<int32_t> GroupedByVobId(const CellTableEntry* cells, int32_t count) {
    std::vector<uint16_t> groupOrder;
    std::unordered_map<uint16_t, std::vector<int32_t>> groups;
    for (int32_t i = 0; i < count; ++i) {
        auto [it, added] = groups.try_emplace(cells[i].vobId);
        if (added) {
            groupOrder.push_back(cells[i].vobId);
        }
        it->second.push_back(i);
    }
    std::vector<int32_t> order;
    for (uint16_t vobId : groupOrder) {
        order.insert(order.end(), groups[vobId].begin(), groups[vobId].end());
    }
    return order;
}

// Readers take the count as the highest VOB ID an entry may carry (libdvdread checks each entry
// against it). Renumbered VOB IDs run 1..N, so both are the same; VOB IDs kept as they were may
// leave a gap below the highest where a whole VOB was dropped. libdvdread first cuts a count
// above the number of entries down to it, so a table with fewer entries than its highest VOB ID
// draws its warnings whatever the count: only renumbering avoids them.
uint32_t VobCountOf(const CellTableEntry* cells, int32_t count) {
    std::unordered_set<uint16_t> vobIds;
    uint32_t highest = 0;
    for (int32_t i = 0; i < count; ++i) {
        vobIds.insert(cells[i].vobId);
        highest = std::max<uint32_t>(highest, cells[i].vobId);
    }
    return std::max<uint32_t>(static_cast<uint32_t>(vobIds.size()), highest);
}

void WriteEntries(CIfoFile& ifo, uint8_t* table, const CellTableEntry* cells,
                  const std::vector<int32_t>& order) {
    int32_t written = 0;
    for (int32_t i : order) {
        uint8_t* entry = table + ifo::kTableEntries + written * ifo::kCAdtEntrySize;
        if (!ifo.Contains(entry, ifo::kCAdtEntrySize)) {
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

}  // namespace

void CIfoFile::RebuildCellAddressTable(std::span<const CellTableEntry> entries, bool menu) {
    const CellTableEntry* cells = entries.data();
    const int32_t count = static_cast<int32_t>(entries.size());
    const int32_t index = menu ? IfoMenuCAdt : IfoVtsCAdt;
    if (GetTable(index) == nullptr) {
        return;
    }
    uint8_t* table = ClearAndResize(*this, index, count);
    if (m_bVmg && count == 0) {
        WriteBE32(Data(), ifo::kMenuCAdt, 0);
        return;
    }
    WriteEntries(*this, table, cells, GroupedByVobId(cells, count));
    WriteBE16(table, ifo::kTableCount, VobCountOf(cells, count));
}

}  // namespace dorvex
