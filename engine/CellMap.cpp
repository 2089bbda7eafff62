// The cell table and the VCIDMap: which runs of kept packs form cells, and which VOB ID and cell
// ID each kept VCID carries in the cleaned stream.
#include <algorithm>

#include "engine/VtsCleaner.h"
#include "ifo/IfoFile.h"
#include "support/Sinks.h"

namespace dorvex {

void CVtsCleaner::OnNewVcid(CIfoFile& ifo) {
    Logf("Found VCID %d/%d at LBA %d (%d out)", m_VobId, m_CellId, m_ReadInFile.load(),
         m_WrittenInFile);

    if (static_cast<size_t>(m_CellCount) >= m_Cells.size()) {
        m_Cells.resize(std::max<size_t>(kCellCapacity, m_Cells.size() * 2));
    }
    CellTableEntry& open = m_Cells[static_cast<size_t>(m_CellCount)];
    // The all-zero entry of a fresh pass and the entry of a dropped cell are simply reused.
    if (open.vobId != 0 && !m_Dropping) {
        open.lastLba = m_WrittenTotal - 1;
        GetMapping(open.vobId, open.cellId, open.vobId, open.cellId);
        ++m_CellCount;
        if (m_CellCount == kCellCapacity) {
            Alert("Too many cells!");
        }
        if (static_cast<size_t>(m_CellCount) >= m_Cells.size()) {
            m_Cells.resize(m_Cells.size() * 2);
        }
    }

    CellTableEntry& next = m_Cells[static_cast<size_t>(m_CellCount)];
    next.vobId = m_VobId;
    next.cellId = m_CellId;
    next.firstLba = m_WrittenTotal;
    next.lastLba = 0;

    m_Dropping = 0;
    if (ifo.m_bLoaded && !ifo.IsVcidReferenced(m_VobId, m_CellId, m_Menu != 0)) {
        Logf("VCID %d/%d is unreferenced...", m_VobId, m_CellId);
        if (m_RemoveUnrefed) {
            m_Dropping = 1;
        }
    }

    if (!m_Dropping && !IsInMap(m_VobId, m_CellId)) {
        int32_t mapped = AddToMap(m_VobId, m_CellId);
        if (mapped != PackVcid(m_VobId, m_CellId)) {
            Logf("Remapping %d/%d to %d/%d", m_VobId, m_CellId, mapped / 256, mapped % 256);
        }
    }
}

bool CVtsCleaner::IsInMap(uint16_t vobId, uint8_t cellId) const {
    for (int32_t i = 0; i < m_MapCount; ++i) {
        const VcidMapEntry& entry = m_VCIDMap[static_cast<size_t>(i)];
        if (entry.oldVobId == vobId && entry.oldCellId == cellId) {
            return true;
        }
    }
    return false;
}

int32_t CVtsCleaner::AddToMap(uint16_t vobId, uint8_t cellId) {
    if (m_MapCount == kVcidMapCapacity) {
        Alert("VCIDMap too small!");
    }
    if (IsInMap(vobId, cellId)) {
        Alert("Adding VCID already in map!");
    }
    if (static_cast<size_t>(m_MapCount) >= m_VCIDMap.size()) {
        m_VCIDMap.resize(m_VCIDMap.size() * 2);
    }

    uint16_t newVobId = vobId;
    if (m_RemapVOBIDs) {
        bool found = false;
        for (int32_t i = 0; i < m_MapCount; ++i) {
            const VcidMapEntry& earlier = m_VCIDMap[static_cast<size_t>(i)];
            if (earlier.oldVobId == vobId) {
                newVobId = earlier.newVobId;
                found = true;
                break;
            }
        }
        if (!found) {
            newVobId = m_NextVobId++;
        }
    }
    // The counter is eight bits wide: the 256th cell of one VOB ID wraps to 0.
    uint8_t newCellId = m_CellCounters[newVobId]++;

    VcidMapEntry& entry = m_VCIDMap[static_cast<size_t>(m_MapCount)];
    entry.oldVobId = vobId;
    entry.oldCellId = cellId;
    entry.newVobId = newVobId;
    entry.newCellId = newCellId;
    ++m_MapCount;
    return PackVcid(newVobId, newCellId);
}

int32_t CVtsCleaner::GetMapping(uint16_t vobId, uint8_t cellId, uint16_t& newVobId,
                                uint8_t& newCellId) {
    for (int32_t i = 0; i < m_MapCount; ++i) {
        const VcidMapEntry& entry = m_VCIDMap[static_cast<size_t>(i)];
        if (entry.oldVobId == vobId && entry.oldCellId == cellId) {
            newVobId = entry.newVobId;
            newCellId = entry.newCellId;
            return (entry.newVobId != vobId || entry.newCellId != cellId) ? 1 : 0;
        }
    }
    Alert("GetMapping failed!");
    return 0;
}

}  // namespace dorvex
