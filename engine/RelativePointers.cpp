#include "engine/RelativePointers.h"

#include <algorithm>

#include "engine/PackLayout.h"
#include "support/BigEndian.h"

namespace dorvex {

void CRemovedSectors::Remove(int32_t oldSector) {
    if (!m_Runs.empty()) {
        Run& last = m_Runs.back();
        if (last.first + last.count == oldSector) {
            ++last.count;
            return;
        }
    }
    AddRun({oldSector, 1});
}

void CRemovedSectors::AddRun(RemovedRun run) {
    const int32_t before = m_Runs.empty() ? 0 : m_Runs.back().removedBefore + m_Runs.back().count;
    m_Runs.push_back({run.first, run.count, before});
}

const CRemovedSectors::Run* CRemovedSectors::RunAtOrBefore(int32_t oldSector) const {
    auto after =
        std::upper_bound(m_Runs.begin(), m_Runs.end(), oldSector,
                         [](int32_t sector, const Run& run) { return sector < run.first; });
    return after == m_Runs.begin() ? nullptr : &*(after - 1);
}

bool CRemovedSectors::IsRemoved(int32_t oldSector) const {
    const Run* run = RunAtOrBefore(oldSector);
    return run != nullptr && oldSector < run->first + run->count;
}

int32_t CRemovedSectors::NewSector(int32_t oldSector) const {
    const Run* run = RunAtOrBefore(oldSector);
    return run == nullptr ? oldSector : oldSector - run->removedBefore - run->count;
}

int32_t CRemovedSectors::KeptBefore(int32_t oldSector) const {
    const Run* run = RunAtOrBefore(oldSector);
    if (run == nullptr) {
        return oldSector;
    }
    const int32_t removedUpTo =
        oldSector < run->first + run->count ? oldSector - run->first : run->count;
    return oldSector - run->removedBefore - removedUpTo;
}

int32_t CRemovedSectors::NextKept(int32_t oldSector) const {
    const Run* run = RunAtOrBefore(oldSector);
    // Runs never touch (adjacent removals merge), so the sector after a run is kept.
    return run != nullptr && oldSector < run->first + run->count ? run->first + run->count
                                                                 : oldSector;
}

int32_t CRemovedSectors::PrevKept(int32_t oldSector) const {
    const Run* run = RunAtOrBefore(oldSector);
    return run != nullptr && oldSector < run->first + run->count ? run->first - 1 : oldSector;
}

COldStreamLayout::COldStreamLayout(const int32_t* navSectors, const int32_t* navVcids,
                                   int32_t count, int32_t totalSectors)
    : m_NavSectors(navSectors),
      m_NavVcids(navVcids),
      m_Count(count),
      m_Total(totalSectors),
      m_CellFirst(static_cast<size_t>(count)),
      m_CellEnd(static_cast<size_t>(count)) {
    for (int32_t i = 0; i < count; ++i) {
        const bool opens = i == 0 || navVcids[i] != navVcids[i - 1];
        m_CellFirst[static_cast<size_t>(i)] = opens ? navSectors[i] : m_CellFirst[i - 1];
    }
    for (int32_t i = count - 1; i >= 0; --i) {
        const bool closes = i == count - 1 || navVcids[i] != navVcids[i + 1];
        m_CellEnd[static_cast<size_t>(i)] =
            closes ? (i == count - 1 ? totalSectors : navSectors[i + 1])
                   : m_CellEnd[static_cast<size_t>(i) + 1];
    }
}

int32_t COldStreamLayout::NavAtOrBefore(int32_t sector) const {
    const int32_t* after = std::upper_bound(m_NavSectors, m_NavSectors + m_Count, sector);
    return static_cast<int32_t>(after - m_NavSectors) - 1;
}

int32_t COldStreamLayout::NavAt(int32_t sector) const {
    const int32_t nav = NavAtOrBefore(sector);
    return nav >= 0 && m_NavSectors[nav] == sector ? nav : -1;
}

SectorRange COldStreamLayout::CellAt(int32_t sector) const {
    const int32_t nav = NavAtOrBefore(sector);
    if (nav < 0) {
        // Packs ahead of the first navpack belong to no cell but their own stretch.
        return {0, m_Count > 0 ? m_NavSectors[0] : m_Total};
    }
    return {m_CellFirst[static_cast<size_t>(nav)], m_CellEnd[static_cast<size_t>(nav)]};
}

SectorRange COldStreamLayout::VobuOf(int32_t navIndex) const {
    const int32_t end = navIndex + 1 < m_Count ? m_NavSectors[navIndex + 1] : m_Total;
    return {m_NavSectors[navIndex], end};
}

namespace {

enum class Scope {
    Vobu,  // the pointer stays inside the navpack's own VOBU (reference picture ends)
    Cell,  // the pointer stays inside the cell of the pack it designates
};

enum class Outcome { Untouched, Gone, Moved };

struct Remapped {
    Outcome outcome = Outcome::Untouched;
    uint32_t distance = 0;
};

class PointerRemapper {
  public:
    PointerRemapper(int32_t navIndex, const CRemovedSectors& removed,
                    const COldStreamLayout& layout)
        : m_NavIndex(navIndex),
          m_Nav(layout.NavSector(navIndex)),
          m_NewNav(removed.NewSector(m_Nav)),
          m_Removed(removed),
          m_Layout(layout) {}

    Remapped Remap(uint32_t distance, bool backward, Scope scope) const {
        const int64_t target = backward ? int64_t{m_Nav} - distance : int64_t{m_Nav} + distance;
        if (target < 0 || target >= m_Layout.TotalSectors()) {
            return {};  // not a pack of this stream: nothing to follow
        }
        int32_t kept = static_cast<int32_t>(target);
        if (m_Removed.IsRemoved(kept)) {
            kept = backward ? m_Removed.PrevKept(kept) : m_Removed.NextKept(kept);
            const SectorRange bounds = scope == Scope::Vobu
                                           ? m_Layout.VobuOf(m_NavIndex)
                                           : m_Layout.CellAt(static_cast<int32_t>(target));
            if (!bounds.Contains(kept) && scope == Scope::Vobu && !backward) {
                // A reference picture that ended on a removed pack at the end of its VOBU now
                // ends on the VOBU's last kept pack.
                kept = m_Removed.PrevKept(static_cast<int32_t>(target));
            }
            if (!bounds.Contains(kept) || kept == m_Nav) {
                return {Outcome::Gone, 0};
            }
        }
        const int32_t moved = m_Removed.NewSector(kept) - m_NewNav;
        return {Outcome::Moved, static_cast<uint32_t>(backward ? -moved : moved)};
    }

  private:
    int32_t m_NavIndex;
    int32_t m_Nav;
    int32_t m_NewNav;
    const CRemovedSectors& m_Removed;
    const COldStreamLayout& m_Layout;
};

// Rewrites one 32-bit field; `gone` is what it becomes when nothing is left to designate.
bool RewriteField32(uint8_t* pack, int32_t offset, uint32_t distanceMask, uint32_t backwardBit,
                    bool backward, Scope scope, uint32_t gone, const PointerRemapper& remapper) {
    const uint32_t value = ReadBE32(pack, offset);
    const uint32_t distance = value & distanceMask;
    if (distance == 0 || distance == distanceMask) {
        return false;
    }
    const uint32_t flags = value & ~distanceMask;
    if (backwardBit != 0) {
        backward = (value & backwardBit) != 0;
    }
    const Remapped remapped = remapper.Remap(distance, backward, scope);
    uint32_t rewritten = value;
    if (remapped.outcome == Outcome::Gone) {
        rewritten = gone;
    } else if (remapped.outcome == Outcome::Moved) {
        rewritten = flags | (remapped.distance & distanceMask);
    }
    if (rewritten == value) {
        return false;
    }
    WriteBE32(pack, offset, rewritten);
    return true;
}

bool RewriteAudioSync(uint8_t* pack, int32_t offset, const PointerRemapper& remapper) {
    constexpr uint32_t kDistanceMask = 0x7FFF;
    // Some authoring tools write 0x3FFF for a stream without a pack in reach.
    constexpr uint32_t kNoPack = 0x3FFF;
    const uint32_t value = ReadBE16(pack, offset);
    const uint32_t distance = value & kDistanceMask;
    if (distance == 0 || distance == kDistanceMask || distance == kNoPack) {
        return false;
    }
    const bool backward = (value & pack::kAudioSyncBackward) != 0;
    const Remapped remapped = remapper.Remap(distance, backward, Scope::Cell);
    uint32_t rewritten = value;
    if (remapped.outcome == Outcome::Gone) {
        rewritten = 0;
    } else if (remapped.outcome == Outcome::Moved) {
        rewritten = (value & ~kDistanceMask) | (remapped.distance & kDistanceMask);
    }
    if (rewritten == value) {
        return false;
    }
    WriteBE16(pack, offset, rewritten);
    return true;
}

}  // namespace

bool RewriteRelativePointers(uint8_t* pack, int32_t navIndex, const CRemovedSectors& removed,
                             const COldStreamLayout& layout) {
    const PointerRemapper remapper(navIndex, removed, layout);
    bool changed = false;
    for (int32_t i = 0; i < pack::kDsiRefEndCount; ++i) {
        changed |= RewriteField32(pack, pack::kDsiRefEnd + 4 * i, 0xFFFFFFFF, 0, false, Scope::Vobu,
                                  0, remapper);
    }
    for (int32_t i = 0; i < pack::kSearchCount; ++i) {
        const int32_t offset = pack::kDsiSearch + 4 * i;
        const uint32_t endOfCell =
            (ReadBE32(pack, offset) & ~pack::kSearchDistanceMask) | pack::kSearchEndOfCell;
        changed |= RewriteField32(pack, offset, pack::kSearchDistanceMask, 0,
                                  i > pack::kSearchNextVobu, Scope::Cell, endOfCell, remapper);
    }
    for (int32_t i = 0; i < pack::kAudioSyncCount; ++i) {
        changed |= RewriteAudioSync(pack, pack::kDsiAudioSync + 2 * i, remapper);
    }
    for (int32_t i = 0; i < pack::kSubpictureSyncCount; ++i) {
        changed |=
            RewriteField32(pack, pack::kDsiSubpictureSync + 4 * i, ~pack::kSubpictureSyncBackward,
                           pack::kSubpictureSyncBackward, false, Scope::Cell, 0, remapper);
    }
    return changed;
}

}  // namespace dorvex
