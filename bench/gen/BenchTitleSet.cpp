#include "BenchTitleSet.h"

#include <algorithm>
#include <random>

#include "common/IfoBuilder.h"

namespace dorvex::bench {

namespace {

constexpr int32_t kCellsPerVob = 10;
constexpr size_t kCellsPerPgc = 200;

testkit::CellSpec CellOf(const CellPlan& plan) {
    return testkit::Cell(plan.vobId, plan.cellId, static_cast<uint32_t>(plan.vobuStarts.front()),
                         static_cast<uint32_t>(plan.vobuStarts.back()),
                         static_cast<uint32_t>(plan.lastSector));
}

}  // namespace

TitleSetLayout PlanTitleSet(int64_t packs, bool unreferencedFirst) {
    TitleSetLayout layout;
    std::mt19937 random(42);
    int64_t used = 0;
    int32_t index = 0;
    while (used < packs) {
        CellPlan cell;
        cell.vobId = static_cast<uint16_t>(1 + index / kCellsPerVob);
        cell.cellId = static_cast<uint8_t>(1 + index % kCellsPerVob);
        cell.referenced = !(unreferencedFirst && index == 0);
        const int32_t vobus = 20 + static_cast<int32_t>(random() % 101);
        for (int32_t v = 0; v < vobus && used < packs; ++v) {
            const int32_t size = 150 + static_cast<int32_t>(random() % 101);
            const int32_t take = static_cast<int32_t>(std::min<int64_t>(size, packs - used));
            cell.vobuPacks.push_back(std::max(take, 2));
            used += std::max(take, 2);
        }
        layout.cells.push_back(std::move(cell));
        ++index;
    }
    return layout;
}

TitleSetLayout PlanByCounts(int32_t vobus, int32_t cells) {
    TitleSetLayout layout;
    int64_t sector = 0;
    for (int32_t c = 0; c < cells; ++c) {
        CellPlan cell;
        cell.vobId = static_cast<uint16_t>(1 + c / kCellsPerVob);
        cell.cellId = static_cast<uint8_t>(1 + c % kCellsPerVob);
        const int32_t count = vobus / cells + (c < vobus % cells ? 1 : 0);
        for (int32_t v = 0; v < count; ++v) {
            cell.vobuPacks.push_back(200);
            cell.vobuStarts.push_back(sector);
            sector += 200;
        }
        cell.lastSector = sector - 1;
        layout.cells.push_back(std::move(cell));
    }
    return layout;
}

std::vector<uint8_t> BuildVtsIfo(const TitleSetLayout& layout) {
    testkit::VtsSpec vts;
    vts.timeMaps.resize(1);
    for (const CellPlan& cell : layout.cells) {
        if (cell.vobuStarts.empty()) {
            continue;
        }
        vts.titleCAdt.push_back({cell.vobId, cell.cellId,
                                 static_cast<uint32_t>(cell.vobuStarts.front()),
                                 static_cast<uint32_t>(cell.lastSector)});
        for (size_t v = 0; v < cell.vobuStarts.size(); ++v) {
            vts.titleAdmap.push_back(static_cast<uint32_t>(cell.vobuStarts[v]));
            if (v % 4 == 0 && vts.timeMaps[0].entries.size() < 2048) {
                vts.timeMaps[0].entries.push_back(static_cast<uint32_t>(cell.vobuStarts[v]));
            }
        }
        if (!cell.referenced) {
            continue;
        }
        if (vts.titlePgcs.empty() || vts.titlePgcs.back().size() == kCellsPerPgc) {
            vts.titlePgcs.emplace_back();
        }
        vts.titlePgcs.back().push_back(CellOf(cell));
    }
    return testkit::BuildVtsIfo(vts);
}

void WriteIfos(const std::string& folder, const TitleSetLayout& layout) {
    testkit::WriteIfoPair(folder + "/VTS_01_0.IFO", BuildVtsIfo(layout));
    testkit::VmgSpec vmg;
    vmg.titleSets = 1;
    for (uint8_t t = 1; t <= (layout.cells.size() + kCellsPerPgc - 1) / kCellsPerPgc && t < 99;
         ++t) {
        vmg.titles.push_back({1, t, 0});
    }
    testkit::WriteIfoPair(folder + "/VIDEO_TS.IFO", testkit::BuildVmgIfo(vmg));
}

}  // namespace dorvex::bench
