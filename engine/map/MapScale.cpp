#include "engine/map/MapScale.h"

#include <algorithm>

namespace dorvex::map {

namespace {

Block BlockOf(int64_t first, int64_t end, int64_t items, int64_t sectors, const BandScale& scale) {
    Block block;
    block.first = first;
    block.end = end;
    block.items = items;
    block.sectors = sectors;
    block.x = scale.X(first);
    block.width = std::max(1.0, scale.X(end) - block.x);
    return block;
}

void Extend(Block& block, int64_t end, int64_t items, int64_t sectors, const BandScale& scale) {
    block.end = std::max(block.end, end);
    block.items += items;
    block.sectors += sectors;
    block.width = std::max(1.0, scale.X(block.end) - block.x);
}

}  // namespace

std::vector<Block> MergeRuns(const std::vector<SectorRun>& runs, const BandScale& scale) {
    std::vector<Block> blocks;
    for (const SectorRun& run : runs) {
        if (!blocks.empty() && scale.X(run.first) < blocks.back().x + blocks.back().width + 1.0) {
            Extend(blocks.back(), run.End(), 1, run.count, scale);
        } else {
            blocks.push_back(BlockOf(run.first, run.End(), 1, run.count, scale));
        }
    }
    return blocks;
}

std::vector<Block> MergeMarks(const std::vector<Mark>& marks, const BandScale& scale, double gap) {
    std::vector<Block> blocks;
    for (const Mark& mark : marks) {
        if (!blocks.empty() && scale.X(mark.sector) < blocks.back().x + gap) {
            Extend(blocks.back(), mark.sector + 1, 1, mark.findings, scale);
        } else {
            blocks.push_back(BlockOf(mark.sector, mark.sector + 1, 1, mark.findings, scale));
        }
    }
    return blocks;
}

std::vector<CellBlock> MergeCells(const std::vector<CellRun>& cells, const BandScale& scale) {
    std::vector<CellBlock> blocks;
    for (const CellRun& cell : cells) {
        if (cell.count <= 0) {
            continue;
        }
        const double width = scale.X(cell.End()) - scale.X(cell.first);
        if (!blocks.empty() && blocks.back().player == cell.player &&
            (width < 1.0 || scale.X(blocks.back().block.end) - blocks.back().block.x < 1.0)) {
            Extend(blocks.back().block, cell.End(), 1, cell.count, scale);
            continue;
        }
        blocks.push_back(
            {BlockOf(cell.first, cell.End(), 1, cell.count, scale), cell.player, &cell});
    }
    return blocks;
}

std::vector<SectorRun> InterleavedRuns(const std::vector<CellRun>& cells) {
    std::vector<SectorRun> runs;
    for (const CellRun& cell : cells) {
        if (cell.interleaved && cell.count > 0) {
            AppendRun(runs, cell.first, cell.count);
        }
    }
    return runs;
}

}  // namespace dorvex::map
