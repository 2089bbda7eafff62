// What a navpack's interleaved-unit and angle fields must become once packs have been removed
// from the stream. Players follow them at the end of every ILVU (libdvdnav's dvdnav_get_vobu):
// ILVU_EA ends the ILVU, SML_AGLI or NSML_AGLI of the current angle leads to the next one. They
// are moved through the same removed-sectors map and old stream layout as the relative
// pointers, so that each designates what it designated before:
//   - ILVU_EA: the last kept sector of the ILVU.
//   - NT_ILVU_SA / NT_ILVU_SZ, SML_AGLI address / size: the ILVU they named, its size counted
//     in kept sectors; NSML_AGLI: the VOBU it named.
//   - a target whose packs are all gone (its cell dropped): the next kept VOBU of the same cell
//     (an ILVU of that angle that follows), or the end sentinel when none follows (0x7FFFFFFF,
//     size 0; for NT_ILVU_SA/SZ 0xFFFFFFFF/0xFFFF).
//   - sentinels (0, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFF) and targets outside the stream stay.
// The angle tables of a cell the IFO plays interleaved also follow its angle block there (the
// program chains as an IFO edit left them): entry n names the block's n-th cell. When an angle
// cell has left the block, the entries of the angles after it move down one place, an angle
// whose entry is gone gets the end sentinel, and entries past the block's angle count are 0 (a
// block of one cell is no block: both tables 0, and libdvdnav follows VOBU_SRI). Without this
// the angles after a dropped one would be sent to the dropped cell's packs by libdvdnav's
// play_Cell (which starts angle n at the block's n-th cell) and the tables' n-th entry.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/RelativePointers.h"
#include "engine/ilvu/IlvuLayout.h"

namespace dorvex {

class CIlvuPointers {
  public:
    // `layout`: the old stream's navpacks, kept or dropped, and their cells. `cells`: the cells
    // the IFO plays, the interleaved ones and the angle blocks (the other members of the layout
    // are not looked at). Built once per pass; Rewrite allocates nothing.
    CIlvuPointers(const CRemovedSectors& removed, const COldStreamLayout& layout,
                  const ilvu::Layout& cells);

    // Rewrites the fields of the kept navpack navIndex (its bytes in pack); true when a byte
    // changed.
    bool Rewrite(uint8_t* pack, int32_t navIndex) const;

  private:
    struct Entry {
        uint32_t address = 0;
        uint16_t size = 0;
    };
    using Table = std::array<Entry, pack::kAngleCount>;
    struct Block {
        std::array<int32_t, pack::kAngleCount> cells{};  // PackVcid of angle n + 1
        int32_t count = 0;
    };
    // Where a pointer leads in the new stream.
    struct Target {
        enum class Kind { Outside, Kept, Gone } kind = Kind::Outside;
        int32_t sector = 0;    // the old sector of the kept pack it leads to
        bool movedOn = false;  // its own packs are gone: the next kept VOBU of its cell
    };
    // What a navpack's cell is to the IFO.
    struct CellRole {
        int32_t vcid = 0;
        int32_t block = -1;  // index into m_Blocks, -1 when in none
    };

    Target Resolve(int64_t sector) const;
    int32_t KeptIn(int64_t first, int64_t end) const;
    int32_t KeptInPiece(int32_t sector) const;
    const CellRole* RoleOf(int32_t vcid) const;
    int32_t CellOf(uint32_t address, int32_t nav) const;

    bool RewriteIlvuEnd(uint8_t* pack, int32_t nav) const;
    bool RewriteNextIlvu(uint8_t* pack, int32_t nav) const;
    Entry Moved(Entry entry, bool sized, int32_t nav) const;
    Table Renumbered(const Table& table, bool sized, int32_t nav, const Block* block) const;

    const CRemovedSectors& m_Removed;
    const COldStreamLayout& m_Layout;
    std::vector<int32_t> m_NextKeptOfCell;  // per navpack: the next kept one of its cell, or -1
    std::vector<CellRole> m_Roles;          // the played interleaved cells, by vcid
    std::vector<Block> m_Blocks;
};

}  // namespace dorvex
