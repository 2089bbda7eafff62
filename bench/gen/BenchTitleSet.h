// The shape of a synthetic title set shared by the generator and the micro-benchmarks: its cells
// with their VOBU lengths, and, once written, where each VOBU landed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvex::bench {

struct CellPlan {
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    bool referenced = true;
    std::vector<int32_t> vobuPacks;   // packs of each VOBU, navpack included
    std::vector<int64_t> vobuStarts;  // sector of each VOBU's navpack, filled while writing
    int64_t lastSector = 0;           // filled while writing
};

struct TitleSetLayout {
    std::vector<CellPlan> cells;
};

// Cells of 20 to 120 VOBUs of 150 to 250 packs, ten cells per VOB ID, until `packs` are used.
// With `unreferencedFirst` the first cell is one that no program chain plays.
TitleSetLayout PlanTitleSet(int64_t packs, bool unreferencedFirst);

// A layout of exactly `vobus` VOBUs in `cells` cells, positions filled, for in-memory use.
TitleSetLayout PlanByCounts(int32_t vobus, int32_t cells);

// The title set's IFO image: one PGC of up to 200 cells per ten VOB IDs, C_ADT, VOBU address map
// and a time map, all from the written positions.
std::vector<uint8_t> BuildVtsIfo(const TitleSetLayout& layout);

// Writes VTS_01_0.IFO/.BUP and a VIDEO_TS.IFO/.BUP into folder.
void WriteIfos(const std::string& folder, const TitleSetLayout& layout);

}  // namespace dorvex::bench
