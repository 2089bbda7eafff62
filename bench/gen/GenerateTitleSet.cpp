// Generates a synthetic title set for the benchmark: FILES title VOBs of FILE_MIB MiB each,
// navpacks every 150 to 250 packs, cells of 20 to 120 VOBUs, ten cells per VOB ID, and the IFOs
// (VTS_01_0.IFO/.BUP describing every cell, VIDEO_TS.IFO/.BUP).
//
//   dorvex_bench_gen FOLDER FILES FILE_MIB clean|dirty
//
// "clean" needs no change at all. "dirty" has one unreferenced cell right at the start (with -u
// every later pack moves and the cells of VOB ID 1 are renumbered) and blank packs scattered over
// the stream.
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
    for (bench::CellPlan& cell : layout.cells) {
        for (int32_t vobuPacks : cell.vobuPacks) {
            cell.vobuStarts.push_back(writer.AddVobu(cell.vobId, cell.cellId, vobuPacks - 1));
            // A few blank packs between VOBUs: they only count as damage in the dirty set.
            if (dirty && random() % 50 == 0) {
                writer.AddPack(blank);
            }
        }
        cell.lastSector = writer.PacksWritten() - 1;
    }
    writer.Finish();
    bench::WriteIfos(folder, layout);
    printf("%s: %lld packs in %zu files, %zu cells\n", folder.c_str(),
           static_cast<long long>(writer.PacksWritten()), writer.Files().size(),
           layout.cells.size());
    return 0;
}
