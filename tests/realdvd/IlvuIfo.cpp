// The layout a VTS IFO describes, read through libdvdread, and what the IFO says of the pieces
// held against the stream's.
#include <algorithm>

#include "IlvuLayout.h"

namespace dorvex::ilvu {

namespace {

using SpansByCell = std::map<CellId, std::vector<Span>>;

std::string Text(const std::vector<Span>& spans) {
    std::string text;
    for (const Span& s : spans) {
        text +=
            (text.empty() ? "" : ", ") + std::to_string(s.first) + ".." + std::to_string(s.second);
    }
    return text.empty() ? "nothing" : text;
}

void ReadProgramChains(const pgcit_t& pgcit, Layout& layout, std::vector<std::string>& problems) {
    for (int p = 0; p < pgcit.nr_of_pgci_srp; ++p) {
        const pgc_t* pgc = pgcit.pgci_srp[p].pgc;
        AngleBlock block;
        for (int c = 0; pgc != nullptr && c < pgc->nr_of_cells; ++c) {
            const cell_playback_t& cp = pgc->cell_playback[c];
            const CellId cell{pgc->cell_position[c].vob_id_nr, pgc->cell_position[c].cell_nr};
            layout.played.insert(cell);
            if (cp.interleaved) {
                layout.interleaved.insert(cell);
            }
            if (cp.block_type != BLOCK_TYPE_ANGLE_BLOCK) {
                continue;
            }
            if (cp.block_mode == BLOCK_MODE_FIRST_CELL) {
                block = AngleBlock{{}, cp.seamless_angle != 0};
            }
            block.angles.push_back(cell);
            if (cp.block_mode == BLOCK_MODE_LAST_CELL) {
                AddBlock(layout, block, problems);
                block = AngleBlock{};
            }
        }
    }
}

// A cell reaches from its first piece's first sector to its last piece's last; an interleaved
// cell's first ILVU ends where its first piece does.
void CheckCellSectors(const pgcit_t& pgcit, const SpansByCell& stream,
                      std::vector<std::string>& problems) {
    for (int p = 0; p < pgcit.nr_of_pgci_srp; ++p) {
        const pgc_t* pgc = pgcit.pgci_srp[p].pgc;
        for (int c = 0; pgc != nullptr && c < pgc->nr_of_cells; ++c) {
            const cell_playback_t& cp = pgc->cell_playback[c];
            const CellId cell{pgc->cell_position[c].vob_id_nr, pgc->cell_position[c].cell_nr};
            auto found = stream.find(cell);
            if (found == stream.end()) {
                continue;  // a cell without packs: the other checkers' finding
            }
            const std::vector<Span>& spans = found->second;
            const std::string where = "PGC " + std::to_string(p + 1) + " cell " +
                                      std::to_string(c + 1) + " (" + Name(cell) + "): ";
            if (cp.first_sector != spans.front().first || cp.last_sector != spans.back().second) {
                problems.push_back(where + "sectors " + std::to_string(cp.first_sector) + ".." +
                                   std::to_string(cp.last_sector) + ", the stream's pieces " +
                                   Text(spans));
            }
            if (cp.interleaved && cp.first_ilvu_end_sector != spans.front().second) {
                problems.push_back(where + "first ILVU end " +
                                   std::to_string(cp.first_ilvu_end_sector) + ", expected " +
                                   std::to_string(spans.front().second));
            }
        }
    }
}

}  // namespace

Layout LayoutOf(const ifo_handle_t& vts, const uint8_t* stream, uint32_t sectors,
                std::vector<std::string>& problems) {
    Layout layout;
    layout.navpacks = ReadNavpacks(stream, sectors);
    layout.sectors = sectors;
    if (vts.vts_pgcit == nullptr) {
        problems.push_back("no title program chains");
        return layout;
    }
    ReadProgramChains(*vts.vts_pgcit, layout, problems);
    const c_adt_t* cadt = vts.vts_c_adt;
    const size_t entries =
        cadt == nullptr ? 0 : (cadt->last_byte + 1 - C_ADT_SIZE) / sizeof(cell_adr_t);
    for (size_t i = 0; i < entries; ++i) {
        const cell_adr_t& a = cadt->cell_adr_table[i];
        layout.addressTable[{a.vob_id, a.cell_id}].emplace_back(a.start_sector, a.last_sector);
    }
    for (auto& [cell, spans] : layout.addressTable) {
        std::sort(spans.begin(), spans.end());
    }
    // Nothing looks up a cell no PGC plays.
    for (const CellId& cell : layout.played) {
        const std::string fault = AddressTableFault(layout, cell);
        if (!fault.empty()) {
            problems.push_back("cell " + Name(cell) + ": cell address table: " + fault);
        }
    }
    SpansByCell spans;
    for (const Piece& piece : PiecesOf(layout)) {
        spans[piece.cell].emplace_back(piece.first, piece.last);
    }
    CheckCellSectors(*vts.vts_pgcit, spans, problems);
    return layout;
}

}  // namespace dorvex::ilvu
