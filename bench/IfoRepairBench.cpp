// The IFO repair of a large title set (60,000 VOBUs in 2,000 cells, a removal near the start so
// that every sector moves) and the sector lookups it makes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "BenchTitleSet.h"
#include "common/IfoBuilder.h"
#include "common/TempDir.h"
#include "ifo/IfoFile.h"
#include "support/Sinks.h"

namespace dorvex {
namespace {

struct RepairInput {
    testkit::TempDir dir;
    std::vector<int32_t> oldList;
    std::vector<int32_t> newList;
    std::vector<CellTableEntry> cells;
    std::vector<VcidMapEntry> map;
};

// Navpack lists as a pass would leave them after dropping the first 100 packs.
std::unique_ptr<RepairInput> MakeInput(int32_t vobus, int32_t cellCount) {
    auto input = std::make_unique<RepairInput>();
    bench::TitleSetLayout layout = bench::PlanByCounts(vobus, cellCount);
    testkit::WriteIfoPair(input->dir / "VTS_01_0.IFO", bench::BuildVtsIfo(layout));
    for (const bench::CellPlan& cell : layout.cells) {
        for (int64_t start : cell.vobuStarts) {
            input->oldList.push_back(static_cast<int32_t>(start));
            input->newList.push_back(static_cast<int32_t>(std::max<int64_t>(0, start - 100)));
        }
        input->cells.push_back(
            {cell.vobId, cell.cellId,
             static_cast<int32_t>(std::max<int64_t>(0, cell.vobuStarts.front() - 100)),
             static_cast<int32_t>(cell.lastSector - 100)});
        input->map.push_back({cell.vobId, cell.cellId, cell.vobId, cell.cellId});
    }
    const int32_t end = static_cast<int32_t>(layout.cells.back().lastSector + 1);
    input->oldList.push_back(end);
    input->newList.push_back(end - 100);
    return input;
}

void Quiet(char*, int32_t) {}

void BM_IfoRepair60000Vobus(benchmark::State& state) {
    auto input = MakeInput(60000, 2000);
    SinkFn saved = g_pfnLog;
    g_pfnLog = Quiet;
    const int32_t n = static_cast<int32_t>(input->oldList.size());
    const int32_t cells = static_cast<int32_t>(input->cells.size());
    for (auto _ : state) {
        CIfoFile ifo(input->dir / "VTS_01_0.IFO");
        ifo.RemapCellPositions(input->map, false);
        ifo.RebuildCellAddressTable({input->cells.data(), static_cast<size_t>(cells)}, false);
        ifo.UpdateCellSectors(
            NavpackMap::WithEndEntry(input->oldList.data(), input->newList.data(), n), false);
        ifo.CheckPgcSectors({input->cells.data(), static_cast<size_t>(cells)}, false);
        ifo.RebuildTimeMaps(
            NavpackMap::WithEndEntry(input->oldList.data(), input->newList.data(), n));
        for (uint16_t pgcn = 1; pgcn <= ifo.GetPgcCount(0); ++pgcn) {
            ifo.UpdatePgcPlaybackTime(0, pgcn, true, false);
        }
        ifo.UpdateSizeFields(false);
        benchmark::DoNotOptimize(ifo.Save(input->dir / "OUT_01_0.IFO"));
    }
    g_pfnLog = saved;
}
BENCHMARK(BM_IfoRepair60000Vobus)->Unit(benchmark::kMillisecond);

void BM_MapSectorLookup(benchmark::State& state) {
    auto input = MakeInput(60000, 2000);
    const int32_t n = static_cast<int32_t>(input->oldList.size());
    int32_t probe = 0;
    const int32_t last = input->oldList.back();
    for (auto _ : state) {
        bool inexact = false;
        benchmark::DoNotOptimize(
            MapSector(probe, input->oldList.data(), input->newList.data(), n, -1, inexact));
        probe = (probe + 7919) % last;
    }
}
BENCHMARK(BM_MapSectorLookup);

}  // namespace
}  // namespace dorvex
