// What a domain's IFO says of its interleaved layout, read through the program's IFO model: the
// cells its program chains play, which of them are interleaved, the angle blocks, and the cell
// address table's entries of every cell. The checker holds the stream to it; a clean that drops
// an angle cell numbers the remaining angles after it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ilvu/IlvuLayout.h"

namespace dorvex {
class CIfoFile;
}

namespace dorvex::ilvu {

// Fills layout.played, interleaved, blocks and addressTable. A cell met in two different angle
// blocks goes to `problems`; the first block keeps it.
void ReadIfoCells(CIfoFile& ifo, bool menu, Layout& layout, std::vector<std::string>& problems);

// The same without the problems: what a clean needs to know of the program chains (nothing of
// an IFO that did not load).
Layout IfoCellsOf(CIfoFile& ifo, bool menu);

struct CellSectorProblem {
    uint32_t sector = 0;
    std::string message;
};

// Every played interleaved cell's sectors against its pieces in the stream: its first VOBU
// start is its first piece's first sector, its last sector its last piece's last, and its first
// ILVU end the last sector of its first piece.
std::vector<CellSectorProblem> CellSectorProblems(CIfoFile& ifo, bool menu, const Layout& layout);

}  // namespace dorvex::ilvu
