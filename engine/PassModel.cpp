#include "engine/PassModel.h"

#include <algorithm>

#include "support/Sinks.h"

namespace dorvex {

namespace {

// Removed runs recorded before the table grows: blank packs are rare, dropped cells rarer.
constexpr size_t kRemovedRunReserve = 4096;

// Grows a table to hold index `at`, doubling, never below its stated capacity.
template <class T>
void MakeRoomFor(std::vector<T>& table, size_t at, size_t capacity) {
    if (at >= table.size()) {
        table.resize(std::max({capacity, table.size() * 2, at + 1}));
    }
}

}  // namespace

void NavpackLists::AppendNavpack(int32_t oldSector, int32_t newSector, int32_t vcid) {
    const size_t at = static_cast<size_t>(m_NavCount);
    if (at >= m_NavOld.size()) {
        SizeNavpackLists(std::max<size_t>(16, m_NavOld.size() * 2));
    }
    m_NavOld[at] = oldSector;
    m_NavNew[at] = newSector;
    m_NavVcid[at] = vcid;
    ++m_NavCount;
    if (m_NavCount == kNavpackCapacity) {
        Alert("Too many navpacks!");
    }
}

void NavpackLists::SizeNavpackLists(size_t entries) {
    m_NavOld.resize(entries);
    m_NavNew.resize(entries);
    m_NavVcid.resize(entries);
}

void CellTable::CloseOpenCell() {
    ++m_CellCount;
    MakeRoomFor(m_Cells, static_cast<size_t>(m_CellCount), kCellCapacity);
}

void CellTable::SizeCellTable(size_t entries) {
    m_Cells.resize(entries);
}

VcidMap::VcidMap() : m_VCIDMap(kVcidMapCapacity), m_CellCounters(kVobIdCount, 1) {}

bool VcidMap::IsInMap(uint16_t vobId, uint8_t cellId) const {
    for (const VcidMapEntry& entry : MapEntries()) {
        if (entry.oldVobId == vobId && entry.oldCellId == cellId) {
            return true;
        }
    }
    return false;
}

int32_t VcidMap::AddToMap(uint16_t vobId, uint8_t cellId, bool remapVobIds) {
    if (m_MapCount == kVcidMapCapacity) {
        Alert("VCIDMap too small!");
    }
    if (IsInMap(vobId, cellId)) {
        Alert("Adding VCID already in map!");
    }
    MakeRoomFor(m_VCIDMap, static_cast<size_t>(m_MapCount), kVcidMapCapacity);

    uint16_t newVobId = vobId;
    if (remapVobIds) {
        const auto earlier =
            std::find_if(MapEntries().begin(), MapEntries().end(),
                         [vobId](const VcidMapEntry& entry) { return entry.oldVobId == vobId; });
        newVobId = earlier != MapEntries().end() ? earlier->newVobId : m_NextVobId++;
    }
    // The counter is eight bits wide: the 256th cell of one VOB ID wraps to 0.
    const uint8_t newCellId = m_CellCounters[newVobId]++;
    m_VCIDMap[static_cast<size_t>(m_MapCount)] = {vobId, cellId, newVobId, newCellId};
    ++m_MapCount;
    return PackVcid(newVobId, newCellId);
}

int32_t VcidMap::GetMapping(uint16_t vobId, uint8_t cellId, uint16_t& newVobId,
                            uint8_t& newCellId) const {
    for (const VcidMapEntry& entry : MapEntries()) {
        if (entry.oldVobId == vobId && entry.oldCellId == cellId) {
            newVobId = entry.newVobId;
            newCellId = entry.newCellId;
            return (entry.newVobId != vobId || entry.newCellId != cellId) ? 1 : 0;
        }
    }
    Alert("GetMapping failed!");
    return 0;
}

void VcidMap::CountCellsFromMap() {
    std::fill(m_CellCounters.begin(), m_CellCounters.end(), uint8_t{1});
    for (const VcidMapEntry& entry : MapEntries()) {
        ++m_CellCounters[entry.newVobId];
    }
}

void PassTables::AllocateRunTables() {
    m_Cells.assign(kCellCapacity, CellTableEntry{});
    m_NavOld.assign(kNavpackCapacity, 0);
    m_NavNew.assign(kNavpackCapacity, 0);
    m_NavVcid.assign(kNavpackCapacity, 0);
    m_Removed.Clear();
    m_Removed.Reserve(kRemovedRunReserve);
    m_CellCount = 0;
    m_NavCount = 0;
}

void PassTables::ReleaseRunTables() {
    m_NavOld = {};
    m_NavNew = {};
    m_NavVcid = {};
    m_Removed = {};
    m_Cells = {};
}

TableExtent PassTables::Extent() const {
    TableExtent extent;
    extent.navCount = m_NavCount;
    extent.mapCount = m_MapCount;
    extent.cellCount = m_CellCount;
    extent.removedRuns = m_Removed.RunCount();
    if (static_cast<size_t>(m_CellCount) < m_Cells.size()) {
        extent.openCell = OpenCell();
    }
    if (extent.removedRuns > 0) {
        extent.lastRun = m_Removed.RunAt(extent.removedRuns - 1);
    }
    return extent;
}

void PassTables::AdoptTables(PassTables&& tables) {
    static_cast<PassTables&>(*this) = std::move(tables);
    SizeNavpackLists(std::max<size_t>(kNavpackCapacity, static_cast<size_t>(m_NavCount)));
    MakeRoomFor(m_Cells, static_cast<size_t>(m_CellCount), kCellCapacity);
    MakeRoomFor(m_VCIDMap, static_cast<size_t>(m_MapCount), kVcidMapCapacity);
    m_CellCounters.resize(kVobIdCount);
    CountCellsFromMap();
    m_Removed.Reserve(kRemovedRunReserve);
}

void PassModel::ResetRunState() {
    ForEachCursorField([this](const auto& field) {
        if (field.onReset == OnReset::Start) {
            field.Set(*this, field.start);
        }
    });
    m_MapCount = 0;
    std::fill(m_CellCounters.begin(), m_CellCounters.end(), uint8_t{1});
}

PassCursor PassModel::Cursor() const {
    PassCursor cursor;
    ForEachCursorField([&](const auto& field) { cursor.*field.slot = field.Get(*this); });
    return cursor;
}

void PassModel::RestoreCursor(const PassCursor& cursor) {
    ForEachCursorField([&](const auto& field) { field.Set(*this, cursor.*field.slot); });
}

void PassModel::AdoptPass(PassTables&& tables, const PassSnapshot& at) {
    AdoptTables(std::move(tables));
    RestoreCursor(at.cursor);
    m_NavCount = at.tables.navCount;
    m_MapCount = at.tables.mapCount;
    m_CellCount = at.tables.cellCount;
    OpenCell() = at.tables.openCell;
}

}  // namespace dorvex
