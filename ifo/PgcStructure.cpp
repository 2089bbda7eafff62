#include "ifo/PgcStructure.h"

#include <map>
#include <set>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex {

namespace {

std::string PgcName(const CIfoFile& ifo, bool menu, uint16_t lu, uint16_t pgcn) {
    if (lu == 0 && ifo.m_bVmg) {
        return "First-Play PGC";
    }
    const std::string pgc = "PGC " + std::to_string(pgcn);
    return menu ? "menu LU " + std::to_string(lu) + " " + pgc : pgc;
}

std::string Pair(uint32_t vobId, uint32_t cellId) {
    return std::to_string(vobId) + "/" + std::to_string(cellId);
}

// The cell playback and cell position tables of `cells` cells: both after the PGC's fixed part,
// apart, and inside the file. A count read from the wrong bytes, or damaged, claims cells whose
// entries are the bytes of the other table or of whatever follows the PGC.
std::string CellTableFault(CIfoFile& ifo, const uint8_t* pgc, uint8_t cells) {
    if (cells == 0) {
        return {};  // a PGC of commands alone: its table offsets are 0
    }
    struct Table {
        const char* name;
        int64_t start;
        int64_t bytes;
    };
    const Table playback{"cell playback", ReadBE16(pgc, ifo::kPgcCellPlaybackOffset),
                         int64_t{cells} * ifo::kCellPlaybackSize};
    const Table position{"cell position", ReadBE16(pgc, ifo::kPgcCellPositionOffset),
                         int64_t{cells} * ifo::kCellPositionSize};
    const std::string claims = " claims " + std::to_string(cells) + " cells";
    for (const Table& t : {playback, position}) {
        if (t.start < ifo::kPgcFixedSize) {
            return claims + ", but its " + t.name + " table starts at byte " +
                   std::to_string(t.start) + ", inside the PGC's " +
                   std::to_string(ifo::kPgcFixedSize) + "-byte fixed part";
        }
    }
    if (playback.start < position.start + position.bytes &&
        position.start < playback.start + playback.bytes) {
        const bool playbackFirst = playback.start <= position.start;
        const Table& first = playbackFirst ? playback : position;
        const Table& second = playbackFirst ? position : playback;
        return claims + ", more than its cell tables hold: the " + first.name +
               " table from byte " + std::to_string(first.start) + " would run into the " +
               second.name + " table at byte " + std::to_string(second.start);
    }
    if (!ifo.Contains(pgc + playback.start, playback.bytes) ||
        !ifo.Contains(pgc + position.start, position.bytes)) {
        return claims + ", whose entries would run past the end of the file";
    }
    return {};
}

// The cells one PGC names: VOB and cell IDs count from 1, a PGC plays no more different cells
// than its domain has, and no cell over and over.
std::string CellIdentityFault(CIfoFile& ifo, uint16_t lu, uint16_t pgcn, size_t domainCells) {
    std::map<int32_t, int32_t> plays;
    const uint8_t cells = ifo.GetCellCount(lu, pgcn);
    for (uint16_t cell = 1; cell <= cells; ++cell) {
        const uint8_t* position = ifo.GetCellPosition(lu, pgcn, cell);
        if (position == nullptr) {
            continue;
        }
        const uint16_t vobId = ReadBE16(position, ifo::kCellPositionVobId);
        const uint8_t cellId = position[ifo::kCellPositionCellId];
        if (vobId == 0 || cellId == 0) {
            return " cell " + std::to_string(cell) + " names cell " + Pair(vobId, cellId) +
                   " (VOB ID/cell ID); both count from 1";
        }
        ++plays[PackVcid(vobId, cellId)];
    }
    if (domainCells > 0 && plays.size() > domainCells) {
        return " plays " + std::to_string(plays.size()) +
               " different cells; the cell address table holds " + std::to_string(domainCells);
    }
    for (const auto& [vcid, count] : plays) {
        if (count > kMostPlaysOfOneCell) {
            return " plays cell " + Pair(static_cast<uint32_t>(vcid) / 256, vcid % 256) + " " +
                   std::to_string(count) + " times";
        }
    }
    return {};
}

// The different cells of a domain's cell address table (an interleaved cell has an entry per
// piece); 0 when the domain has none, as a domain whose VOB was pruned.
size_t DomainCells(CIfoFile& ifo, bool menu) {
    std::set<int32_t> cells;
    for (const uint8_t* entry : ifo.CellAddressEntries(menu)) {
        cells.insert(PackVcid(ReadBE16(entry, ifo::kCAdtVobId), entry[ifo::kCAdtCellId]));
    }
    return cells.size();
}

}  // namespace

std::vector<ImpossiblePgc> FindImpossiblePgcs(CIfoFile& ifo, bool menu) {
    std::vector<ImpossiblePgc> found;
    // The First-Play PGC plays cells of the video manager's menu VOB.
    const size_t domainCells = DomainCells(ifo, menu || ifo.m_bVmg);
    ifo.ForEachPgc(menu, [&](uint16_t lu, uint16_t pgcn) {
        const uint8_t* pgc = ifo.GetPgc(lu, pgcn);
        std::string fault = CellTableFault(ifo, pgc, pgc[ifo::kPgcCellCount]);
        if (fault.empty()) {
            fault = CellIdentityFault(ifo, lu, pgcn, domainCells);
        }
        if (!fault.empty()) {
            found.push_back({lu, pgcn, PgcName(ifo, menu, lu, pgcn) + fault});
        }
    });
    return found;
}

}  // namespace dorvex
