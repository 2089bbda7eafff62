// Small synthetic DVD folders for tests that run the cleaner, the plan or the checker on a whole
// disc.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace dorvex::testkit {

struct DiscShape {
    int32_t videoHeight = 576;  // 480: NTSC
    // A title PGC without cells, whose playback time's frame rate comes from the disc's standard.
    bool cellLessPgc = false;
};

// A small damaged disc in folder (created): VIDEO_TS.IFO for one title set; title set 1 with a
// menu VOB and its titles over three VOB files, blank packs inside cells and a cell that the
// title's program chain no longer plays.
void MakeDamagedDisc(const std::string& folder, const DiscShape& shape = {});

// Every regular file under a folder by its path relative to it, with its bytes.
using Tree = std::map<std::string, std::string>;
Tree ReadTree(const std::string& folder);

// A cell by its VOB ID and cell ID.
using CellRef = std::pair<uint16_t, uint8_t>;

// Writes VTS_tt_0.IFO and .BUP for the VOB files of a title set already in folder, as an
// authoring tool would: one PGC per domain that plays every cell (but the title cells in
// `unplayed`, which stay in the cell address table, for a run with -u to remove), the cell
// address tables and VOBU address maps of the streams. For tests of the pass, where every cell
// counts.
void WriteIfoDescribing(const std::string& folder, int32_t titleSet,
                        const std::vector<CellRef>& unplayed = {});

}  // namespace dorvex::testkit
