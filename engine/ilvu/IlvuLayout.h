// The interleaved layout of a domain's stream, and what it gives the seamless playback (SML_PBI),
// seamless angle (SML_AGLI) and non-seamless angle (NSML_AGLI) fields of every navpack. The
// checker holds a disc to these rules, and so does the real-DVD suite's ilvucheck (which reads
// the layout through libdvdread instead); the clean itself never derives fields from them, it
// moves the fields a disc carries (IlvuPointers.h), so the rules judge it from outside.
//
// The layout: the cells the program chains play, which of them are interleaved (the cell
// playback entry's interleaved flag) and the angle blocks (cells of block type angle, from the
// first-cell to the last-cell block mode; angle n is the block's n-th cell in the PGC; seamless
// when its cells carry the seamless-angle flag) and the pieces of every cell, one cell address
// table entry each: an interleaved cell's pieces are its interleaved units (ILVUs). An entry
// must hold whole VOBUs of its cell only (from one of its navpacks to the sector before a
// navpack or the stream's end) and the entries of a cell all its VOBUs; a cell whose entries do
// not is taken in runs (consecutive navpacks of the cell) and the disagreement reported. A
// VOBU's time is its cell elapsed time (DSI C_ELTM), which the angles of a block share.
//
// The rules, for the navpack at sector S in VOBU j of ILVU k of cell C (distances count
// sectors from S; a target before S is written as 0x80000000 | distance):
//   - category: ILVU (0x4000), with unit start (0x2000) on the ILVU's first VOBU and unit end
//     (0x1000) on its last; ILVU_EA the ILVU's last sector; NT_ILVU_SA/NT_ILVU_SZ the first
//     sector and the size in sectors of C's next ILVU, 0xFFFFFFFF/0xFFFF in C's last ILVU.
//   - seamless angle block: SML_AGLI[n] is the start and size of angle n's ILVU that follows
//     in time: the first ILVU of angle n's cell whose time is not before that of C's own next
//     ILVU. When angle n's ILVU at that time has no packs left (removed whole), the entry names
//     the next ILVU of that angle that has; only when none follows does it carry the end
//     sentinel 0x7FFFFFFF (size 0), and so for every angle in C's last ILVU. libdvdnav turns
//     0x7FFFFFFF into "end of cell" (dvdnav_get_vobu) and leaves the block for the cell after
//     it (play_Cell_post): pointing at the end early would cut the angle short, pointing at
//     another angle's ILVU would play the wrong angle without any error.
//   - non-seamless angle block: NSML_AGLI[n] is the VOBU of angle n that starts when this one
//     ends: the first VOBU of angle n's cell whose time is not before that of C's next VOBU
//     (in C's own order, across its ILVUs); 0x7FFFFFFF when C has no next VOBU or angle n none
//     from that time on. For C itself that is its own next VOBU: libdvdnav follows NSML_AGLI of
//     the current angle at the end of every ILVU.
//   - entries for angles beyond the block's count are 0; the other kind of angle table is 0.
//   - the pre-unit: the last three VOBUs before an interleaved block (not inside another block)
//     carry PREU (0x8000), unit start on the first of them, unit end on the last, the other
//     fields 0. Every other navpack carries all these fields as 0.
// Navpacks of cells no PGC plays get no expectation: nothing plays them.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/PackLayout.h"

namespace dorvex::ilvu {

inline constexpr int32_t kAngles = pack::kAngleCount;
inline constexpr int32_t kPreUnitVobus = 3;

struct Fields {
    uint16_t category = 0;
    uint32_t ilvuEnd = 0;    // ILVU_EA
    uint32_t nextStart = 0;  // NT_ILVU_SA
    uint16_t nextSize = 0;   // NT_ILVU_SZ
    std::array<uint32_t, kAngles> smlAddress{};
    std::array<uint16_t, kAngles> smlSize{};
    std::array<uint32_t, kAngles> nsml{};
    bool operator==(const Fields&) const = default;
};

struct CellId {
    uint16_t vob = 0;
    uint8_t cell = 0;
    auto operator<=>(const CellId&) const = default;
};

struct Navpack {
    uint32_t sector = 0;
    CellId cell;
    int64_t time = 0;  // cell elapsed time, frames
    Fields found;
};

struct AngleBlock {
    std::vector<CellId> angles;
    bool seamless = false;
    bool operator==(const AngleBlock&) const = default;
};

using Span = std::pair<uint32_t, uint32_t>;  // first and last sector

struct Layout {
    std::vector<Navpack> navpacks;  // stream order
    uint32_t sectors = 0;
    std::set<CellId> played;
    std::set<CellId> interleaved;
    std::vector<AngleBlock> blocks;
    std::map<CellId, std::vector<Span>> addressTable;  // none: every cell in runs
};

// A piece of a cell: an ILVU of an interleaved cell, the whole of a plain cell. Sectors are
// inclusive; navpacks index Layout::navpacks.
struct Piece {
    CellId cell;
    uint32_t first = 0;
    uint32_t last = 0;
    size_t firstNavpack = 0;
    size_t lastNavpack = 0;
};

struct Mismatch {
    uint32_t sector = 0;
    CellId cell;
    std::string field;
    uint32_t expected = 0;
    uint32_t found = 0;
};

// The fields of a navpack's bytes, and its cell elapsed time in frames.
Fields ReadFields(const uint8_t* pack);
int64_t CellElapsedFrames(const uint8_t* pack);

// Every cell's pieces, in stream order.
std::vector<Piece> PiecesOf(const Layout& layout);
// Why a cell's address table entries are not its pieces; empty when they are.
std::string AddressTableFault(const Layout& layout, const CellId& cell);

// What the rules above give every navpack of a played cell, by sector.
std::map<uint32_t, Fields> ExpectedFields(const Layout& layout);
std::vector<Mismatch> CompareFields(const Layout& layout);
std::string Describe(const Mismatch& mismatch);
std::string Name(const CellId& cell);

// Adds an angle block as a program chain names it: once, however many chains name it; a cell
// found in two different blocks goes to `problems`, and the first block keeps it.
void AddBlock(Layout& layout, const AngleBlock& block, std::vector<std::string>& problems);

}  // namespace dorvex::ilvu
