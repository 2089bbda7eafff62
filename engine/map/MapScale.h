// A domain's stream laid along a band of pixels: what is drawn, and merged where one run, cell or
// finding alone would be narrower than a pixel, so that a 9 GB title set draws as few shapes as
// a 200 MB menu. A merged block keeps how many items and sectors it stands for.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/map/DiscMap.h"

namespace dorvex::map {

struct BandScale {
    double left = 0;
    double width = 0;
    int64_t sectors = 0;
    double X(int64_t sector) const {
        return sectors <= 0 ? left : left + width * static_cast<double>(sector) / sectors;
    }
};

struct Block {
    double x = 0;
    double width = 0;   // at least one pixel
    int64_t first = 0;  // the sectors it spans, gaps between merged items included
    int64_t end = 0;
    int64_t items = 0;    // runs, cells or findings drawn as this one block
    int64_t sectors = 0;  // the sectors of those items alone
};

struct CellBlock {
    Block block;
    Player player = Player::Nobody;
    const CellRun* cell = nullptr;  // the first cell of the block
};

// Runs closer than a pixel to the block before them join it.
std::vector<Block> MergeRuns(const std::vector<SectorRun>& runs, const BandScale& scale);
// Findings closer than `gap` pixels join the mark before them; `sectors` counts findings.
std::vector<Block> MergeMarks(const std::vector<Mark>& marks, const BandScale& scale, double gap);
// Neighbouring cells of the same player join while the block or the cell is under a pixel wide.
std::vector<CellBlock> MergeCells(const std::vector<CellRun>& cells, const BandScale& scale);
// The interleaved stretches: consecutive interleaved cell runs, merged as runs.
std::vector<SectorRun> InterleavedRuns(const std::vector<CellRun>& cells);

}  // namespace dorvex::map
