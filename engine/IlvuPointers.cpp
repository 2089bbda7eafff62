#include "engine/IlvuPointers.h"

#include <algorithm>
#include <unordered_map>

#include "ifo/CellRecords.h"
#include "support/BigEndian.h"

namespace dorvex {

namespace {

int32_t VcidOf(const ilvu::CellId& cell) {
    return PackVcid(cell.vob, cell.cell);
}

bool IsAngleSentinel(uint32_t address) {
    return address == 0 || address == pack::kAngleEnd;
}

int32_t SmlAt(int32_t n) {
    return pack::kDsiSmlAngle + pack::kSmlAngleEntrySize * n;
}

int32_t NsmlAt(int32_t n) {
    return pack::kPciNsmlAngle + pack::kPciNsmlAngleEntrySize * n;
}

}  // namespace

CIlvuPointers::CIlvuPointers(const CRemovedSectors& removed, const COldStreamLayout& layout,
                             const ilvu::Layout& cells)
    : m_Removed(removed),
      m_Layout(layout),
      m_NextKeptOfCell(static_cast<size_t>(layout.NavCount()), -1) {
    std::unordered_map<int32_t, int32_t> nextKept;
    for (int32_t i = layout.NavCount() - 1; i >= 0; --i) {
        auto found = nextKept.find(layout.NavVcid(i));
        m_NextKeptOfCell[static_cast<size_t>(i)] = found == nextKept.end() ? -1 : found->second;
        if (!removed.IsRemoved(layout.NavSector(i))) {
            nextKept[layout.NavVcid(i)] = i;
        }
    }
    for (const ilvu::AngleBlock& block : cells.blocks) {
        Block cellsOf;
        for (const ilvu::CellId& cell : block.angles) {
            if (cellsOf.count < pack::kAngleCount) {
                cellsOf.cells[static_cast<size_t>(cellsOf.count++)] = VcidOf(cell);
            }
        }
        m_Blocks.push_back(cellsOf);
    }
    for (const ilvu::CellId& cell : cells.interleaved) {
        if (cells.played.count(cell) == 0) {
            continue;
        }
        CellRole role{VcidOf(cell), -1};
        for (size_t b = 0; b < cells.blocks.size() && role.block < 0; ++b) {
            const auto& angles = cells.blocks[b].angles;
            if (std::find(angles.begin(), angles.end(), cell) != angles.end()) {
                role.block = static_cast<int32_t>(b);
            }
        }
        m_Roles.push_back(role);
    }
    std::sort(m_Roles.begin(), m_Roles.end(),
              [](const CellRole& a, const CellRole& b) { return a.vcid < b.vcid; });
}

CIlvuPointers::Target CIlvuPointers::Resolve(int64_t sector) const {
    if (sector < 0 || sector >= m_Layout.TotalSectors()) {
        return {};  // not a pack of this stream: nothing to follow
    }
    const int32_t target = static_cast<int32_t>(sector);
    if (!m_Removed.IsRemoved(target)) {
        return {Target::Kind::Kept, target, false};
    }
    if (const int32_t nav = m_Layout.NavAt(target); nav >= 0) {
        const int32_t next = m_NextKeptOfCell[static_cast<size_t>(nav)];
        return next < 0 ? Target{Target::Kind::Gone, 0, false}
                        : Target{Target::Kind::Kept, m_Layout.NavSector(next), true};
    }
    // A field that names no navpack: the pack after the removed ones, as other pointers do.
    const int32_t kept = m_Removed.NextKept(target);
    return kept < m_Layout.TotalSectors() ? Target{Target::Kind::Kept, kept, false}
                                          : Target{Target::Kind::Gone, 0, false};
}

int32_t CIlvuPointers::KeptIn(int64_t first, int64_t end) const {
    const int32_t last = m_Layout.TotalSectors();
    const int32_t from = static_cast<int32_t>(std::min<int64_t>(first, last));
    const int32_t to = static_cast<int32_t>(std::min<int64_t>(end, last));
    return m_Removed.KeptBefore(to) - m_Removed.KeptBefore(from);
}

// From a navpack to the end of its run of navpacks of one cell: in a block, the rest of its ILVU.
int32_t CIlvuPointers::KeptInPiece(int32_t sector) const {
    return KeptIn(sector, m_Layout.CellAt(sector).end);
}

const CIlvuPointers::CellRole* CIlvuPointers::RoleOf(int32_t vcid) const {
    auto at = std::lower_bound(m_Roles.begin(), m_Roles.end(), vcid,
                               [](const CellRole& role, int32_t v) { return role.vcid < v; });
    return at != m_Roles.end() && at->vcid == vcid ? &*at : nullptr;
}

// The cell of the navpack an angle entry of navpack nav designates, -1 when it designates none.
int32_t CIlvuPointers::CellOf(uint32_t address, int32_t nav) const {
    if (IsAngleSentinel(address)) {
        return -1;
    }
    const int64_t from = m_Layout.NavSector(nav);
    const int64_t distance = address & pack::kAngleDistanceMask;
    const int64_t target =
        (address & pack::kAngleBackward) != 0 ? from - distance : from + distance;
    if (target < 0 || target > INT32_MAX) {
        return -1;
    }
    const int32_t at = m_Layout.NavAt(static_cast<int32_t>(target));
    return at < 0 ? -1 : m_Layout.NavVcid(at);
}

bool CIlvuPointers::RewriteIlvuEnd(uint8_t* pack, int32_t nav) const {
    const uint32_t value = ReadBE32(pack, pack::kDsiIlvuEnd);
    const int32_t from = m_Layout.NavSector(nav);
    const int64_t last = int64_t{from} + value;
    // 0 outside ILVUs and in the pre-unit; a last sector beyond the stream is not followed.
    if (value == 0 || last >= m_Layout.TotalSectors()) {
        return false;
    }
    const uint32_t moved = static_cast<uint32_t>(KeptIn(from, last + 1) - 1);
    WriteBE32(pack, pack::kDsiIlvuEnd, moved);
    return moved != value;
}

bool CIlvuPointers::RewriteNextIlvu(uint8_t* pack, int32_t nav) const {
    const uint32_t start = ReadBE32(pack, pack::kDsiNextIlvuStart);
    const uint16_t size = ReadBE16(pack, pack::kDsiNextIlvuSize);
    if (start == 0 || start == pack::kNextIlvuNone) {
        return false;
    }
    const int32_t from = m_Layout.NavSector(nav);
    const int64_t first = int64_t{from} + start;
    const Target target = Resolve(first);
    uint32_t newStart = start;
    uint16_t newSize = size;
    if (target.kind == Target::Kind::Gone) {
        newStart = pack::kNextIlvuNone;
        newSize = pack::kNextIlvuSizeNone;
    } else if (target.kind == Target::Kind::Kept) {
        newStart =
            static_cast<uint32_t>(m_Removed.NewSector(target.sector) - m_Removed.NewSector(from));
        const int32_t kept =
            target.movedOn ? KeptInPiece(target.sector) : KeptIn(first, first + size);
        if (size != 0 && size != pack::kNextIlvuSizeNone) {
            newSize = static_cast<uint16_t>(std::min<int32_t>(kept, pack::kNextIlvuSizeNone - 1));
        }
    }
    WriteBE32(pack, pack::kDsiNextIlvuStart, newStart);
    WriteBE16(pack, pack::kDsiNextIlvuSize, newSize);
    return newStart != start || newSize != size;
}

CIlvuPointers::Entry CIlvuPointers::Moved(Entry entry, bool sized, int32_t nav) const {
    if (IsAngleSentinel(entry.address)) {
        return entry;
    }
    const bool backward = (entry.address & pack::kAngleBackward) != 0;
    const int64_t distance = entry.address & pack::kAngleDistanceMask;
    const int32_t from = m_Layout.NavSector(nav);
    const int64_t first = backward ? from - distance : from + distance;
    const Target target = Resolve(first);
    if (target.kind == Target::Kind::Outside) {
        return entry;
    }
    if (target.kind == Target::Kind::Gone) {
        return {pack::kAngleEnd, 0};
    }
    const int32_t moved = m_Removed.NewSector(target.sector) - m_Removed.NewSector(from);
    const uint32_t flags = entry.address & ~(pack::kAngleBackward | pack::kAngleDistanceMask);
    const uint32_t address = moved < 0 ? pack::kAngleBackward | static_cast<uint32_t>(-moved)
                                       : static_cast<uint32_t>(moved);
    Entry out{flags | address, entry.size};
    if (sized && entry.size != 0) {
        const int32_t kept =
            target.movedOn ? KeptInPiece(target.sector) : KeptIn(first, first + entry.size);
        out.size = static_cast<uint16_t>(std::min<int32_t>(kept, UINT16_MAX));
    }
    return out;
}

// The table after the navpack's angle block: entry n for the block's n-th cell.
CIlvuPointers::Table CIlvuPointers::Renumbered(const Table& table, bool sized, int32_t nav,
                                               const Block* block) const {
    const int32_t count = block == nullptr ? 0 : block->count;
    std::array<int32_t, pack::kAngleCount> cellOf{};
    bool inPlace = true;
    bool any = false;
    for (int32_t p = 0; p < pack::kAngleCount; ++p) {
        cellOf[p] = CellOf(table[p].address, nav);
        any = any || table[p].address != 0;
        inPlace = inPlace && (cellOf[p] < 0 || (p < count && block->cells[p] == cellOf[p]));
    }
    Table out{};
    for (int32_t q = 0; q < count; ++q) {
        if (inPlace) {
            out[q] = Moved(table[q], sized, nav);
            continue;
        }
        auto from = std::find(cellOf.begin(), cellOf.end(), block->cells[q]);
        out[q] = from != cellOf.end() ? Moved(table[from - cellOf.begin()], sized, nav)
                 : any                ? Entry{pack::kAngleEnd, 0}
                                      : Entry{};
    }
    return out;
}

bool CIlvuPointers::Rewrite(uint8_t* pack, int32_t navIndex) const {
    bool changed = RewriteIlvuEnd(pack, navIndex);
    changed |= RewriteNextIlvu(pack, navIndex);
    Table sml;
    Table nsml;
    for (int32_t n = 0; n < pack::kAngleCount; ++n) {
        sml[n] = {ReadBE32(pack, SmlAt(n)), ReadBE16(pack, SmlAt(n) + pack::kSmlAngleSizeAt)};
        nsml[n] = {ReadBE32(pack, NsmlAt(n)), 0};
    }
    Table newSml;
    Table newNsml;
    const CellRole* role = RoleOf(m_Layout.NavVcid(navIndex));
    if (role != nullptr) {
        const Block* block = role->block < 0 ? nullptr : &m_Blocks[role->block];
        newSml = Renumbered(sml, true, navIndex, block);
        newNsml = Renumbered(nsml, false, navIndex, block);
    } else {
        for (int32_t n = 0; n < pack::kAngleCount; ++n) {
            newSml[n] = Moved(sml[n], true, navIndex);
            newNsml[n] = Moved(nsml[n], false, navIndex);
        }
    }
    for (int32_t n = 0; n < pack::kAngleCount; ++n) {
        changed |= newSml[n].address != sml[n].address || newSml[n].size != sml[n].size ||
                   newNsml[n].address != nsml[n].address;
        WriteBE32(pack, SmlAt(n), newSml[n].address);
        WriteBE16(pack, SmlAt(n) + pack::kSmlAngleSizeAt, newSml[n].size);
        WriteBE32(pack, NsmlAt(n), newNsml[n].address);
    }
    return changed;
}

}  // namespace dorvex
