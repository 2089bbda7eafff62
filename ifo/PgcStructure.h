// Program chains no disc can hold, whatever damage it took: a cell count past the PGC's own cell
// tables, VOB or cell ID 0, more different cells than the domain has, one cell played over and
// over. Their cells are bytes of other structures, and a repair would write them back as cells:
// the checker reports each such PGC once, and a run refuses its IFO before it changes anything.
// The one rule for both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvex {

class CIfoFile;

// More plays of one cell in one PGC than a disc has: a cell shown between every two programs of
// the largest PGC the format allows (99 programs) is played 98 times.
inline constexpr int32_t kMostPlaysOfOneCell = 99;

struct ImpossiblePgc {
    uint16_t lu = 0;  // language unit; 0 for the title domain (the First-Play PGC in VIDEO_TS.IFO)
    uint16_t pgcn = 0;
    std::string text;  // what is impossible, naming the PGC: "PGC 1 claims 255 cells, ..."
};

// The PGCs of a domain that no disc holds, in walk order, one entry each.
std::vector<ImpossiblePgc> FindImpossiblePgcs(CIfoFile& ifo, bool menu);

}  // namespace dorvex
