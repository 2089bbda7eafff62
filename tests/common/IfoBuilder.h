// IFO images for tests and benchmarks, built from a description of their program chains and
// tables instead of hand-written byte blobs. Every table starts on its own sector, the header's
// pointer fields and every end address are filled in.
//
//   testkit::VtsSpec vts;
//   vts.titlePgcs = {{Cell(1, 1, 0, 0, 9), Cell(1, 2, 10, 10, 19)}};
//   vts.titleCAdt = CAdtFromPgcs(vts.titlePgcs);
//   vts.titleAdmap = {0, 10};
//   WriteIfoPair(folder + "/VTS_01_0.IFO", BuildVtsIfo(vts));
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dorvex::testkit {

struct CellSpec {
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    uint32_t firstSector = 0;  // first VOBU start
    uint32_t firstIlvuEnd = 0;
    uint32_t lastVobuStart = 0;
    uint32_t lastSector = 0;    // last VOBU end
    uint8_t category = 0;       // block mode, block type, interleaved ... (cell byte 0)
    uint32_t playbackTime = 0;  // the four BCD bytes as one big-endian number
};

inline CellSpec Cell(uint16_t vobId, uint8_t cellId, uint32_t first, uint32_t lastStart,
                     uint32_t last) {
    CellSpec c;
    c.vobId = vobId;
    c.cellId = cellId;
    c.firstSector = first;
    c.lastVobuStart = lastStart;
    c.lastSector = last;
    return c;
}

using PgcSpec = std::vector<CellSpec>;
using LanguageUnitSpec = std::vector<PgcSpec>;

struct CAdtEntry {
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    uint32_t firstSector = 0;
    uint32_t lastSector = 0;

    bool operator==(const CAdtEntry&) const = default;
};

struct TimeMapSpec {
    uint8_t unitSeconds = 1;
    std::vector<uint32_t> entries;  // bit 31: discontinuity
};

struct VtsSpec {
    std::vector<PgcSpec> titlePgcs;
    std::vector<LanguageUnitSpec> menuUnits;  // empty: no VTSM_PGCI_UT
    std::vector<CAdtEntry> titleCAdt;
    std::vector<CAdtEntry> menuCAdt;
    std::vector<uint32_t> titleAdmap;
    std::vector<uint32_t> menuAdmap;
    std::vector<TimeMapSpec> timeMaps;
    bool menuTables = false;  // write VTSM_C_ADT and VTSM_VOBU_ADMAP even without menu units
    bool timeMapTable = true;
};

struct TitleSpec {
    uint8_t titleSet = 1;
    uint8_t titleInSet = 1;
    uint32_t startSector = 0;
};

struct VmgSpec {
    std::vector<TitleSpec> titles;
    uint16_t titleSets = 1;
    std::vector<LanguageUnitSpec> menuUnits;  // empty: no VMGM_PGCI_UT
    std::vector<CAdtEntry> menuCAdt;
    std::vector<uint32_t> menuAdmap;
    bool menuTables = false;  // write VMGM_C_ADT and VMGM_VOBU_ADMAP even without menu units
    std::optional<PgcSpec> firstPlay;
    uint16_t ptlCountries = 1;  // VMG_PTL_MAIT with this many countries (0: still a table)
    bool ptlTable = true;
    bool vtsAttributes = true;
};

// One cell address table entry per distinct cell of the PGCs, in order of first appearance.
std::vector<CAdtEntry> CAdtFromPgcs(const std::vector<PgcSpec>& pgcs);

std::vector<uint8_t> BuildVtsIfo(const VtsSpec& plan);
std::vector<uint8_t> BuildVmgIfo(const VmgSpec& plan);

// Writes the image to path and to the .BUP beside it.
void WriteIfoPair(const std::string& ifoPath, const std::vector<uint8_t>& image);

// Parsed views for assertions on a saved or in-memory image.
std::vector<CAdtEntry> ReadCAdt(const std::vector<uint8_t>& image, int32_t headerField);
std::vector<uint32_t> ReadAdmap(const std::vector<uint8_t>& image, int32_t headerField);
// Cell playback/position of title PGC pgcn (from 1) of a VTS image, as CellSpecs.
std::vector<CellSpec> ReadTitlePgcCells(const std::vector<uint8_t>& image, int32_t pgcn);

}  // namespace dorvex::testkit
