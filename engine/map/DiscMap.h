// The map of a title set: each domain's VOB stream along the sector axis, as the checker or a
// plan found it while reading it anyway. The VOB files it is split into, its cells with who plays
// them, its blank packs, interleaved blocks and the sectors findings point at; for a plan also
// what the run removes and the stream's size after it. Nothing here reads a disc: the checker
// (engine/check/StreamMap.cpp) and the dry run (engine/plan/DryRun.cpp) fill it in, the SVG
// writer (MapSvg.h) draws it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvex::ilvu {
struct Layout;
}

namespace dorvex::map {

// Who plays a cell: a program chain of the titles, one of the menus, or none at all.
enum class Player : uint8_t { Titles, Menus, Nobody };

struct SectorRun {
    int64_t first = 0;
    int64_t count = 0;
    int64_t End() const { return first + count; }
};

// Adds sectors [first, first + count) to runs kept in stream order, extending the last run when
// they follow it.
void AppendRun(std::vector<SectorRun>& runs, int64_t first, int64_t count = 1);
int64_t TotalSectors(const std::vector<SectorRun>& runs);

struct FileSpan {
    std::string name;
    int64_t first = 0;  // stream sector of its first pack
    int64_t sectors = 0;
};

// A stretch of the stream that one cell holds: a whole plain cell, or one interleaved unit.
struct CellRun {
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    int64_t first = 0;
    int64_t count = 0;
    Player player = Player::Nobody;
    bool interleaved = false;
    int32_t angleBlock = -1;  // the domain's angle block holding the cell, -1 none
    int64_t End() const { return first + count; }
};

// Findings of the checker at one sector (blank packs and sectors without a pack header are runs
// of their own, not marks).
struct Mark {
    int64_t sector = 0;
    int32_t findings = 0;
};

struct DomainMap {
    std::string name;  // "VTS_01 titles", "VTS_01 menu", "VIDEO_TS menu"
    bool menu = false;
    int64_t sectors = 0;
    std::vector<FileSpan> files;
    std::vector<CellRun> cells;  // stream order
    // Blank packs; a plan's those its pass met outside the cells it drops (which go whole).
    std::vector<SectorRun> blank;
    std::vector<SectorRun> notPacks;
    std::vector<Mark> marks;
    // A plan: what the run removes (blank packs and cells no PGC plays) and the stream after it.
    bool planned = false;
    std::vector<SectorRun> removed;
    int64_t sectorsAfter = 0;
    std::vector<FileSpan> filesAfter;
};

struct TitleSetMap {
    std::string name;  // "VIDEO_TS", "VTS_01"
    std::vector<DomainMap> domains;
};

// A new cell run at `first` (a change of VOB/cell ID in the stream); each run ends where the next
// one starts, the last at the end of the stream (FinishCells).
void StartCellRun(DomainMap& map, uint16_t vobId, uint8_t cellId, int64_t first);
void FinishCells(DomainMap& map);
// Who plays each cell and which are interleaved or in an angle block, as the IFO's program
// chains say (ilvu::IfoCellsOf).
void ClassifyCells(DomainMap& map, const ilvu::Layout& ifoCells);

// Marks from the sectors of findings, in any order and repeated once per finding.
std::vector<Mark> MarksOf(std::vector<int64_t> sectors);

}  // namespace dorvex::map
