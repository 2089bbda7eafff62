// Generates a synthetic title set for the benchmark: FILES title VOBs of FILE_MIB MiB each,
// navpacks every 150 to 250 packs, cells of 20 to 120 VOBUs, ten cells per VOB ID, and the IFOs
// (VTS_01_0.IFO/.BUP describing every cell, VIDEO_TS.IFO/.BUP).
//
//   dorvex_bench_gen FOLDER FILES FILE_MIB clean|dirty
//
// "clean" needs no change at all. "dirty" has one unreferenced cell right at the start (with -u
// every later pack moves and the cells of VOB ID 1 are renumbered) and blank packs scattered over
// the stream; it also says how many of the runs a cleaning keeps land 2048 bytes off a 4 KiB block.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "BenchTitleSet.h"
#include "common/StreamBuilder.h"

using namespace dorvex;

namespace {

// The runs of packs a cleaning keeps, in order, and how many land an odd number of packs off
// their source: 2048 bytes off a 4 KiB block, where a file system can share no block between the
// source and the copy (reflink), whatever the copy call.
struct ShiftTally {
    int64_t removed = 0;
    int64_t runs = 0;
    int64_t oddRuns = 0;
    int64_t kept = 0;
    int64_t oddKept = 0;
    bool inRun = false;

    void Keep(int64_t packs) {
        const bool odd = removed % 2 != 0;
        if (!inRun) {
            ++runs;
            oddRuns += odd ? 1 : 0;
            inRun = true;
        }
        kept += packs;
        oddKept += odd ? packs : 0;
    }
    void Drop(int64_t packs) {
        removed += packs;
        inRun = false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || (strcmp(argv[4], "clean") != 0 && strcmp(argv[4], "dirty") != 0)) {
        fprintf(stderr, "usage: dorvex_bench_gen FOLDER FILES FILE_MIB clean|dirty\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int64_t files = atoll(argv[2]);
    const int64_t packsPerFile = atoll(argv[3]) * 512;
    const bool dirty = strcmp(argv[4], "dirty") == 0;
    std::system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str());

    bench::TitleSetLayout layout = bench::PlanTitleSet(files * packsPerFile, dirty);
    testkit::StreamWriter writer(folder, 1, packsPerFile);
    std::mt19937 random(7);
    uint8_t blank[testkit::kPack] = {};
    ShiftTally shifts;
    for (bench::CellPlan& cell : layout.cells) {
        for (int32_t vobuPacks : cell.vobuPacks) {
            cell.vobuStarts.push_back(writer.AddVobu(cell.vobId, cell.cellId, vobuPacks - 1));
            if (cell.referenced) {
                shifts.Keep(vobuPacks);
            } else {
                shifts.Drop(vobuPacks);
            }
            // A few blank packs between VOBUs: they only count as damage in the dirty set.
            if (dirty && random() % 50 == 0) {
                writer.AddPack(blank);
                shifts.Drop(1);
            }
        }
        cell.lastSector = writer.PacksWritten() - 1;
    }
    writer.Finish();
    bench::WriteIfos(folder, layout);
    printf("%s: %lld packs in %zu files, %zu cells\n", folder.c_str(),
           static_cast<long long>(writer.PacksWritten()), writer.Files().size(),
           layout.cells.size());
    if (dirty) {
        printf(
            "%s: cleaning keeps %lld runs of packs; %lld of them (%.1f%% of the kept packs) "
            "land an odd number of packs off their source, 2048 bytes off a 4 KiB block\n",
            folder.c_str(), static_cast<long long>(shifts.runs),
            static_cast<long long>(shifts.oddRuns),
            shifts.kept > 0
                ? 100.0 * static_cast<double>(shifts.oddKept) / static_cast<double>(shifts.kept)
                : 0.0);
    }
    return 0;
}
