#include "engine/ilvu/IfoCells.h"

#include <algorithm>
#include <map>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex::ilvu {

namespace {

CellId CellOf(const uint8_t* position) {
    return {ReadBE16(position, ifo::kCellPositionVobId), position[ifo::kCellPositionCellId]};
}

bool InAngleBlock(uint8_t category) {
    return (category & ifo::kCategoryBlockTypeMask) == ifo::kCategoryAngleBlockBit;
}

void ReadCellAddressTable(CIfoFile& ifo, bool menu, Layout& layout) {
    const int32_t index = menu ? IfoMenuCAdt : IfoVtsCAdt;
    const uint8_t* table = ifo.GetTable(index);
    if (table == nullptr) {
        return;
    }
    const int64_t end = ifo.GetTableEnd(index);
    const int64_t entries =
        std::max<int64_t>(0, (end + 1 - ifo::kTableEntries) / ifo::kCAdtEntrySize);
    for (int64_t i = 0; i < entries; ++i) {
        const uint8_t* entry = table + ifo::kTableEntries + i * ifo::kCAdtEntrySize;
        if (!ifo.Contains(entry, ifo::kCAdtEntrySize)) {
            break;
        }
        const CellId cell{ReadBE16(entry, ifo::kCAdtVobId), entry[ifo::kCAdtCellId]};
        layout.addressTable[cell].emplace_back(ReadBE32(entry, ifo::kCAdtFirstSector),
                                               ReadBE32(entry, ifo::kCAdtLastSector));
    }
    for (auto& [cell, spans] : layout.addressTable) {
        std::sort(spans.begin(), spans.end());
    }
}

}  // namespace

void ReadIfoCells(CIfoFile& ifo, bool menu, Layout& layout, std::vector<std::string>& problems) {
    ifo.ForEachPgc(menu, [&](uint16_t lu, uint16_t pgcn) {
        AngleBlock block;
        const uint8_t cells = ifo.GetCellCount(lu, pgcn);
        for (uint16_t c = 1; c <= cells; ++c) {
            const uint8_t* playback = ifo.GetCellPlayback(lu, pgcn, c);
            const uint8_t* position = ifo.GetCellPosition(lu, pgcn, c);
            if (playback == nullptr || position == nullptr) {
                continue;
            }
            const uint8_t category = playback[ifo::kCellCategory];
            const CellId cell = CellOf(position);
            layout.played.insert(cell);
            if ((category & ifo::kCategoryInterleaved) != 0) {
                layout.interleaved.insert(cell);
            }
            if (!InAngleBlock(category)) {
                continue;
            }
            const uint8_t mode = category & ifo::kCategoryBlockModeMask;
            if (mode == ifo::kCategoryBlockFirst) {
                block = AngleBlock{{}, (category & ifo::kCategorySeamlessAngle) != 0};
            }
            block.angles.push_back(cell);
            if (mode == ifo::kCategoryBlockLast) {
                AddBlock(layout, block, problems);
                block = AngleBlock{};
            }
        }
    });
    ReadCellAddressTable(ifo, menu, layout);
}

Layout IfoCellsOf(CIfoFile& ifo, bool menu) {
    Layout layout;
    std::vector<std::string> problems;
    if (ifo.m_bLoaded) {
        ReadIfoCells(ifo, menu, layout, problems);
    }
    return layout;
}

std::vector<CellSectorProblem> CellSectorProblems(CIfoFile& ifo, bool menu, const Layout& layout) {
    std::map<CellId, std::vector<Span>> pieces;
    for (const Piece& piece : PiecesOf(layout)) {
        pieces[piece.cell].emplace_back(piece.first, piece.last);
    }
    std::vector<CellSectorProblem> problems;
    ifo.ForEachCell(
        menu, [&](uint16_t, uint16_t pgcn, uint16_t c, uint8_t* playback, uint8_t* position) {
            const CellId cell = CellOf(position);
            auto found = pieces.find(cell);
            if (layout.interleaved.count(cell) == 0 || found == pieces.end()) {
                return;  // a plain cell, or one without packs: the cell checks say what is wrong
            }
            const std::vector<Span>& spans = found->second;
            const std::string where = "PGC " + std::to_string(pgcn) + " cell " + std::to_string(c) +
                                      " (" + Name(cell) + "): ";
            const uint32_t first = ReadBE32(playback, ifo::kCellFirstVobuStart);
            const uint32_t last = ReadBE32(playback, ifo::kCellLastVobuEnd);
            if (first != spans.front().first || last != spans.back().second) {
                problems.push_back({first, where + "sectors " + std::to_string(first) + ".." +
                                               std::to_string(last) + ", its pieces reach from " +
                                               std::to_string(spans.front().first) + " to " +
                                               std::to_string(spans.back().second)});
            }
            const uint32_t ilvuEnd = ReadBE32(playback, ifo::kCellFirstIlvuEnd);
            if (ilvuEnd != spans.front().second) {
                problems.push_back({first, where + "first ILVU end " + std::to_string(ilvuEnd) +
                                               ", its first piece ends at " +
                                               std::to_string(spans.front().second)});
            }
        });
    return problems;
}

}  // namespace dorvex::ilvu
