#include "engine/map/DiscMap.h"

#include <algorithm>

#include "engine/ilvu/IlvuLayout.h"

namespace dorvex::map {

void AppendRun(std::vector<SectorRun>& runs, int64_t first, int64_t count) {
    if (!runs.empty() && runs.back().End() == first) {
        runs.back().count += count;
        return;
    }
    runs.push_back({first, count});
}

int64_t TotalSectors(const std::vector<SectorRun>& runs) {
    int64_t total = 0;
    for (const SectorRun& run : runs) {
        total += run.count;
    }
    return total;
}

void StartCellRun(DomainMap& map, uint16_t vobId, uint8_t cellId, int64_t first) {
    if (!map.cells.empty() && map.cells.back().vobId == vobId &&
        map.cells.back().cellId == cellId) {
        return;
    }
    CellRun run;
    run.vobId = vobId;
    run.cellId = cellId;
    run.first = first;
    map.cells.push_back(run);
}

void FinishCells(DomainMap& map) {
    for (size_t i = 0; i < map.cells.size(); ++i) {
        const int64_t end = i + 1 < map.cells.size() ? map.cells[i + 1].first : map.sectors;
        map.cells[i].count = std::max<int64_t>(0, end - map.cells[i].first);
    }
}

void ClassifyCells(DomainMap& map, const ilvu::Layout& ifoCells) {
    for (CellRun& run : map.cells) {
        const ilvu::CellId id{run.vobId, run.cellId};
        run.player = ifoCells.played.count(id) == 0 ? Player::Nobody
                     : map.menu                     ? Player::Menus
                                                    : Player::Titles;
        run.interleaved = ifoCells.interleaved.count(id) != 0;
        for (size_t b = 0; b < ifoCells.blocks.size() && run.angleBlock < 0; ++b) {
            const std::vector<ilvu::CellId>& angles = ifoCells.blocks[b].angles;
            if (std::find(angles.begin(), angles.end(), id) != angles.end()) {
                run.angleBlock = static_cast<int32_t>(b);
            }
        }
    }
}

std::vector<Mark> MarksOf(std::vector<int64_t> sectors) {
    std::sort(sectors.begin(), sectors.end());
    std::vector<Mark> marks;
    for (const int64_t sector : sectors) {
        if (marks.empty() || marks.back().sector != sector) {
            marks.push_back({sector, 0});
        }
        ++marks.back().findings;
    }
    return marks;
}

}  // namespace dorvex::map
