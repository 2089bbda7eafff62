// Small synthetic DVD folders for tests that run the cleaner, the plan or the checker on a whole
// disc.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/IfoBuilder.h"
#include "common/StreamBuilder.h"

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
// The IFO of that disc's title set, as MakeDamagedDisc writes it: tests derive variants of it.
VtsSpec DamagedDiscTitleSet(const DiscShape& shape = {});

// A title set with an interleaved block, as commercial discs hold one: VIDEO_TS.IFO; title set 1
// with a cell whose last three VOBUs are the pre-unit (VOB ID 1), the block of `block` (its
// cells VOB IDs 2, 3, ...), a closing cell (the next VOB ID), split into VOB files of
// `packsPerFile` packs; every navpack's next and previous VOBU pointers lead to its cell's
// neighbours; an IFO whose title PGC plays the block as an angle block (a seamless branch: one
// PGC per branch cell), its cell address table holding each ILVU as a piece.
struct InterleavedDiscSpec {
    InterleavedBlockSpec block;
    int64_t packsPerFile = 1 << 20;
    // A cell of the block (from 0) that an IFO edit left out of every PGC, the other cells
    // numbered again as their block's angles (one left is no block); -1: none.
    int32_t leftOut = -1;
};
InterleavedBlock MakeInterleavedDisc(const std::string& folder, const InterleavedDiscSpec& spec);

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
