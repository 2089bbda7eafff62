// What a navpack's relative sector pointers must become once packs have been removed from the
// stream: the old-to-new sector map of a pass, where the cells and VOBUs of the old stream lay,
// and the rewrite of one navpack's DSI pointers through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dorvex {

// A run of consecutive removed sectors.
struct RemovedRun {
    int32_t first = 0;
    int32_t count = 0;
};

// The sectors one pass removed from its input stream, as runs. Sectors are reported in
// increasing order, so the runs stay sorted and adjacent removals share one run.
class CRemovedSectors {
  public:
    void Clear() { m_Runs.clear(); }
    // Room for this many runs before the pass, so that recording a removal does not allocate.
    void Reserve(size_t runs) { m_Runs.reserve(runs); }
    void Remove(int32_t oldSector);
    bool Empty() const { return m_Runs.empty(); }
    int32_t RunCount() const { return static_cast<int32_t>(m_Runs.size()); }
    RemovedRun RunAt(int32_t index) const {
        const Run& run = m_Runs[static_cast<size_t>(index)];
        return {run.first, run.count};
    }
    // Rebuilding the table an interrupted run recorded: the runs in order, each after the last,
    // from the first `count` runs on.
    void AddRun(RemovedRun run);
    void KeepRuns(int32_t count) { m_Runs.resize(static_cast<size_t>(count)); }

    bool IsRemoved(int32_t oldSector) const;
    // Position in the output stream of a sector that was kept.
    int32_t NewSector(int32_t oldSector) const;
    // How many sectors before oldSector were kept: where the first kept sector at or after it
    // lies in the output. The kept sectors of [a, b) are KeptBefore(b) - KeptBefore(a).
    int32_t KeptBefore(int32_t oldSector) const;
    // The first kept sector at or after oldSector, and the last kept sector at or before it
    // (-1 when there is none).
    int32_t NextKept(int32_t oldSector) const;
    int32_t PrevKept(int32_t oldSector) const;

  private:
    struct Run {
        int32_t first;          // first removed sector
        int32_t count;          // removed sectors in the run
        int32_t removedBefore;  // removed sectors in all earlier runs
    };
    // The run containing or last starting before oldSector, or nullptr.
    const Run* RunAtOrBefore(int32_t oldSector) const;

    std::vector<Run> m_Runs;
};

// Half-open range of sectors [first, end).
struct SectorRange {
    int32_t first = 0;
    int32_t end = 0;
    bool Contains(int32_t sector) const { return sector >= first && sector < end; }
};

// Cells and VOBUs of the stream as it was read, from its navpacks: a cell is a run of navpacks
// carrying the same VOB/cell ID, a VOBU runs from its navpack to the next one.
class COldStreamLayout {
  public:
    // navSectors ascending; navVcids the packed VOB/cell ID of each navpack.
    COldStreamLayout(const int32_t* navSectors, const int32_t* navVcids, int32_t count,
                     int32_t totalSectors);

    SectorRange CellAt(int32_t sector) const;
    SectorRange VobuOf(int32_t navIndex) const;
    int32_t NavCount() const { return m_Count; }
    int32_t NavSector(int32_t navIndex) const { return m_NavSectors[navIndex]; }
    int32_t NavVcid(int32_t navIndex) const { return m_NavVcids[navIndex]; }
    // The navpack at exactly this sector, -1 when there is none.
    int32_t NavAt(int32_t sector) const;
    int32_t TotalSectors() const { return m_Total; }

  private:
    // Index of the last navpack at or before sector, -1 before the first.
    int32_t NavAtOrBefore(int32_t sector) const;

    const int32_t* m_NavSectors;
    const int32_t* m_NavVcids;
    int32_t m_Count;
    int32_t m_Total;
    std::vector<int32_t> m_CellFirst;  // per navpack: first sector of its cell
    std::vector<int32_t> m_CellEnd;    // per navpack: sector after its cell
};

// Rewrites the reference-picture end addresses, the VOBU search pointers and the sync offsets
// of the kept navpack navIndex (its bytes in pack) so that each designates the same pack as
// before the removals. Flag bits and "none" values stay; only distances change. Returns true
// when a byte changed.
bool RewriteRelativePointers(uint8_t* pack, int32_t navIndex, const CRemovedSectors& removed,
                             const COldStreamLayout& layout);

}  // namespace dorvex
