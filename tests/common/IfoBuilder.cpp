#include "IfoBuilder.h"

// GCC 12 at -O3 reports growing a byte vector by resize() as an out-of-bounds copy (a known false
// positive of its array-bounds analysis); the builder only ever grows vectors it owns.
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#pragma GCC diagnostic ignored "-Wstringop-overflow"

#include <cstdio>
#include <set>
#include <utility>

#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t at, uint32_t v) {
    if (b.size() < at + 4) {
        b.resize(at + 4, 0);
    }
    WriteBE32(b.data(), static_cast<int32_t>(at), v);
}

void Put16(Bytes& b, size_t at, uint32_t v) {
    if (b.size() < at + 2) {
        b.resize(at + 2, 0);
    }
    WriteBE16(b.data(), static_cast<int32_t>(at), v);
}

void SetEnd(Bytes& table) {
    Put32(table, ifo::kTableEnd, static_cast<uint32_t>(table.size() - 1));
}

// A PGC: fixed part, program map (one program per cell), cell playback and cell position tables.
Bytes BuildPgc(const PgcSpec& cells) {
    const size_t fixed = ifo::kPgcCellPositionOffset + 2;
    Bytes pgc(fixed, 0);
    const uint8_t n = static_cast<uint8_t>(cells.size());
    pgc[ifo::kPgcProgramCount] = n;
    pgc[ifo::kPgcCellCount] = n;
    const size_t programMap = fixed;
    const size_t playback = programMap + ((n + 1) & ~1u);
    const size_t position = playback + ifo::kCellPlaybackSize * cells.size();
    pgc.resize(position + ifo::kCellPositionSize * cells.size(), 0);
    Put16(pgc, ifo::kPgcProgramMapOffset, n > 0 ? static_cast<uint32_t>(programMap) : 0);
    Put16(pgc, ifo::kPgcCellPlaybackOffset, n > 0 ? static_cast<uint32_t>(playback) : 0);
    Put16(pgc, ifo::kPgcCellPositionOffset, n > 0 ? static_cast<uint32_t>(position) : 0);
    for (size_t i = 0; i < cells.size(); ++i) {
        const CellSpec& c = cells[i];
        pgc[programMap + i] = static_cast<uint8_t>(i + 1);
        const size_t e = playback + ifo::kCellPlaybackSize * i;
        pgc[e + ifo::kCellCategory] = c.category;
        Put32(pgc, e + ifo::kCellPlaybackTime, c.playbackTime);
        Put32(pgc, e + ifo::kCellFirstVobuStart, c.firstSector);
        Put32(pgc, e + ifo::kCellFirstIlvuEnd, c.firstIlvuEnd);
        Put32(pgc, e + ifo::kCellLastVobuStart, c.lastVobuStart);
        Put32(pgc, e + ifo::kCellLastVobuEnd, c.lastSector);
        const size_t p = position + ifo::kCellPositionSize * i;
        Put16(pgc, p + ifo::kCellPositionVobId, c.vobId);
        pgc[p + ifo::kCellPositionCellId] = c.cellId;
    }
    return pgc;
}

// VTS_PGCIT or a language unit: count, end, search pointers, then the PGCs.
Bytes BuildPgcContainer(const std::vector<PgcSpec>& pgcs, uint32_t categoryBase) {
    Bytes table(ifo::kTableEntries + ifo::kSearchPointerSize * pgcs.size(), 0);
    Put16(table, ifo::kTableCount, static_cast<uint32_t>(pgcs.size()));
    for (size_t i = 0; i < pgcs.size(); ++i) {
        const size_t pointer = ifo::kTableEntries + ifo::kSearchPointerSize * i;
        Put32(table, pointer, categoryBase | static_cast<uint32_t>((i + 1) << 24));
        Put32(table, pointer + ifo::kSearchPointerOffset, static_cast<uint32_t>(table.size()));
        Bytes pgc = BuildPgc(pgcs[i]);
        table.insert(table.end(), pgc.begin(), pgc.end());
    }
    SetEnd(table);
    return table;
}

Bytes BuildPgciUt(const std::vector<LanguageUnitSpec>& units) {
    Bytes table(ifo::kTableEntries + ifo::kSearchPointerSize * units.size(), 0);
    Put16(table, ifo::kTableCount, static_cast<uint32_t>(units.size()));
    for (size_t i = 0; i < units.size(); ++i) {
        const size_t pointer = ifo::kTableEntries + ifo::kSearchPointerSize * i;
        Put16(table, pointer, 0x656E);  // "en"
        table[pointer + 3] = 0x80;
        Put32(table, pointer + ifo::kSearchPointerOffset, static_cast<uint32_t>(table.size()));
        Bytes unit = BuildPgcContainer(units[i], 0x80000000u);
        table.insert(table.end(), unit.begin(), unit.end());
    }
    SetEnd(table);
    return table;
}

Bytes BuildCAdt(const std::vector<CAdtEntry>& entries) {
    Bytes table(ifo::kTableEntries, 0);
    std::set<uint16_t> vobs;
    for (const CAdtEntry& e : entries) {
        vobs.insert(e.vobId);
        const size_t at = table.size();
        table.resize(at + ifo::kCAdtEntrySize, 0);
        Put16(table, at + ifo::kCAdtVobId, e.vobId);
        table[at + ifo::kCAdtCellId] = e.cellId;
        Put32(table, at + ifo::kCAdtFirstSector, e.firstSector);
        Put32(table, at + ifo::kCAdtLastSector, e.lastSector);
    }
    Put16(table, ifo::kTableCount, static_cast<uint32_t>(vobs.size()));
    SetEnd(table);
    return table;
}

Bytes BuildAdmap(const std::vector<uint32_t>& sectors) {
    Bytes table(ifo::kAdmapEntries + ifo::kAdmapEntrySize * sectors.size(), 0);
    for (size_t i = 0; i < sectors.size(); ++i) {
        Put32(table, ifo::kAdmapEntries + ifo::kAdmapEntrySize * i, sectors[i]);
    }
    Put32(table, ifo::kAdmapEnd, static_cast<uint32_t>(table.size() - 1));
    return table;
}

Bytes BuildTmapt(const std::vector<TimeMapSpec>& maps) {
    Bytes table(ifo::kTmapPointers + 4 * maps.size(), 0);
    Put16(table, ifo::kTableCount, static_cast<uint32_t>(maps.size()));
    for (size_t i = 0; i < maps.size(); ++i) {
        Put32(table, ifo::kTmapPointers + 4 * i, static_cast<uint32_t>(table.size()));
        const size_t at = table.size();
        table.resize(at + ifo::kTmapEntries + 4 * maps[i].entries.size(), 0);
        table[at] = maps[i].unitSeconds;
        Put16(table, at + ifo::kTmapEntryCount, static_cast<uint32_t>(maps[i].entries.size()));
        for (size_t e = 0; e < maps[i].entries.size(); ++e) {
            Put32(table, at + ifo::kTmapEntries + 4 * e, maps[i].entries[e]);
        }
    }
    SetEnd(table);
    return table;
}

Bytes BuildPttSrpt() {
    Bytes table(16, 0);
    Put16(table, ifo::kTableCount, 1);
    Put32(table, 8, 12);  // offset of title 1's chapters
    Put16(table, 12, 1);  // PGC 1
    Put16(table, 14, 1);  // program 1
    SetEnd(table);
    return table;
}

Bytes BuildTtSrpt(const std::vector<TitleSpec>& titles) {
    Bytes table(ifo::kTableEntries + ifo::kTtSrptEntrySize * titles.size(), 0);
    Put16(table, ifo::kTableCount, static_cast<uint32_t>(titles.size()));
    for (size_t i = 0; i < titles.size(); ++i) {
        const size_t at = ifo::kTableEntries + ifo::kTtSrptEntrySize * i;
        table[at] = 0x3C;
        table[at + 1] = 1;
        Put16(table, at + 2, 1);
        table[at + ifo::kTtSrptTitleSet] = titles[i].titleSet;
        table[at + ifo::kTtSrptTitleSet + 1] = titles[i].titleInSet;
        Put32(table, at + ifo::kTtSrptStartSector, titles[i].startSector);
    }
    SetEnd(table);
    return table;
}

// Masks of each country: 8 rows of (title sets + 1) masks, row r holding r * 16 + column.
Bytes BuildPtlMait(uint16_t countries, uint16_t titleSets) {
    Bytes table(ifo::kTableEntries + ifo::kPtlCountryEntrySize * countries, 0);
    Put16(table, ifo::kPtlCountryCount, countries);
    Put16(table, ifo::kPtlTitleSetCount, titleSets);
    for (uint16_t c = 0; c < countries; ++c) {
        const size_t entry = ifo::kTableEntries + ifo::kPtlCountryEntrySize * c;
        Put16(table, entry, 0x5553 + c);
        Put16(table, entry + ifo::kPtlMaskBlockOffset, static_cast<uint32_t>(table.size()));
        for (int row = 0; row < ifo::kPtlLevels; ++row) {
            for (int col = 0; col <= titleSets; ++col) {
                const size_t at = table.size();
                Put16(table, at, static_cast<uint32_t>(c * 0x1000 + row * 16 + col));
            }
        }
    }
    if (countries == 0) {
        table.resize(ifo::kTableEntries);
    }
    SetEnd(table);
    return table;
}

Bytes BuildVtsAtrt(uint16_t titleSets) {
    Bytes table(ifo::kTableEntries + 4 * titleSets, 0);
    Put16(table, ifo::kAtrtTitleSetCount, titleSets);
    for (uint16_t i = 0; i < titleSets; ++i) {
        Put32(table, ifo::kTableEntries + 4 * i, static_cast<uint32_t>(table.size()));
        const size_t at = table.size();
        Put32(table, at, 7);  // a minimal 8-byte attribute record
        Put32(table, at + 4, 0);
    }
    SetEnd(table);
    return table;
}

// Appends a table on its own sectors and stores its sector in the header field.
void Place(Bytes& image, int32_t field, const Bytes& table) {
    const size_t sector = image.size() / ifo::kSectorSize;
    Put32(image, static_cast<size_t>(field), static_cast<uint32_t>(sector));
    image.insert(image.end(), table.begin(), table.end());
    image.resize((image.size() + ifo::kSectorSize - 1) / ifo::kSectorSize * ifo::kSectorSize, 0);
}

void FinishHeader(Bytes& image, const char* id) {
    for (size_t i = 0; id[i] != '\0'; ++i) {
        image[i] = static_cast<uint8_t>(id[i]);
    }
    const uint32_t last = static_cast<uint32_t>(image.size() / ifo::kSectorSize - 1);
    Put32(image, ifo::kLastSectorOfIfo, last);
}

}  // namespace

std::vector<CAdtEntry> CAdtFromPgcs(const std::vector<PgcSpec>& pgcs) {
    std::vector<CAdtEntry> entries;
    std::set<std::pair<uint16_t, uint8_t>> seen;
    for (const PgcSpec& pgc : pgcs) {
        for (const CellSpec& c : pgc) {
            if (seen.insert({c.vobId, c.cellId}).second) {
                entries.push_back({c.vobId, c.cellId, c.firstSector, c.lastSector});
            }
        }
    }
    return entries;
}

std::vector<uint8_t> BuildVtsIfo(const VtsSpec& plan) {
    Bytes image(ifo::kHeaderSize, 0);
    Place(image, ifo::kPttSrptOrVmgmPgciUt, BuildPttSrpt());
    Place(image, ifo::kPgcitOrPtlMait, BuildPgcContainer(plan.titlePgcs, 0x81000000u));
    if (!plan.menuUnits.empty()) {
        Place(image, ifo::kVtsmPgciUtOrVtsAtrt, BuildPgciUt(plan.menuUnits));
    }
    if (plan.timeMapTable) {
        Place(image, ifo::kTmaptOrTxtdt, BuildTmapt(plan.timeMaps));
    }
    if (!plan.menuUnits.empty() || plan.menuTables) {
        Place(image, ifo::kMenuCAdt, BuildCAdt(plan.menuCAdt));
        Place(image, ifo::kMenuVobuAdmap, BuildAdmap(plan.menuAdmap));
    }
    Place(image, ifo::kVtsCAdt, BuildCAdt(plan.titleCAdt));
    Place(image, ifo::kVtsVobuAdmap, BuildAdmap(plan.titleAdmap));
    FinishHeader(image, "DVDVIDEO-VTS");
    return image;
}

std::vector<uint8_t> BuildVmgIfo(const VmgSpec& plan) {
    Bytes image(ifo::kHeaderSize, 0);
    Put16(image, ifo::kVmgTitleSetCount, plan.titleSets);
    if (plan.firstPlay) {
        Bytes pgc = BuildPgc(*plan.firstPlay);
        const size_t at = 0x400;
        std::copy(pgc.begin(), pgc.end(), image.begin() + at);
        Put32(image, ifo::kVmgFirstPlayPgcByte, static_cast<uint32_t>(at));
    }
    Place(image, ifo::kTitleVobsOrTtSrpt, BuildTtSrpt(plan.titles));
    if (!plan.menuUnits.empty()) {
        Place(image, ifo::kPttSrptOrVmgmPgciUt, BuildPgciUt(plan.menuUnits));
    }
    if (plan.ptlTable) {
        Place(image, ifo::kPgcitOrPtlMait, BuildPtlMait(plan.ptlCountries, plan.titleSets));
    }
    if (plan.vtsAttributes) {
        Place(image, ifo::kVtsmPgciUtOrVtsAtrt, BuildVtsAtrt(plan.titleSets));
    }
    if (!plan.menuUnits.empty() || plan.menuTables) {
        Place(image, ifo::kMenuCAdt, BuildCAdt(plan.menuCAdt));
        Place(image, ifo::kMenuVobuAdmap, BuildAdmap(plan.menuAdmap));
    }
    FinishHeader(image, "DVDVIDEO-VMG");
    return image;
}

void WriteIfoPair(const std::string& ifoPath, const std::vector<uint8_t>& image) {
    std::string bup = ifoPath.substr(0, ifoPath.size() - 4) + ".BUP";
    for (const std::string& path : {ifoPath, bup}) {
        FILE* f = fopen(path.c_str(), "wb");
        if (f != nullptr) {
            fwrite(image.data(), 1, image.size(), f);
            fclose(f);
        }
    }
}

std::vector<CAdtEntry> ReadCAdt(const std::vector<uint8_t>& image, int32_t headerField) {
    std::vector<CAdtEntry> entries;
    const size_t table = size_t{ReadBE32(image.data(), headerField)} * ifo::kSectorSize;
    if (table == 0 || table + 8 > image.size()) {
        return entries;
    }
    const uint32_t end = ReadBE32(image.data(), static_cast<int32_t>(table + ifo::kTableEnd));
    for (size_t at = table + ifo::kTableEntries; at + ifo::kCAdtEntrySize <= table + end + 1;
         at += ifo::kCAdtEntrySize) {
        const int32_t p = static_cast<int32_t>(at);
        entries.push_back({ReadBE16(image.data(), p + ifo::kCAdtVobId),
                           image[at + ifo::kCAdtCellId],
                           ReadBE32(image.data(), p + ifo::kCAdtFirstSector),
                           ReadBE32(image.data(), p + ifo::kCAdtLastSector)});
    }
    return entries;
}

std::vector<uint32_t> ReadAdmap(const std::vector<uint8_t>& image, int32_t headerField) {
    std::vector<uint32_t> sectors;
    const size_t table = size_t{ReadBE32(image.data(), headerField)} * ifo::kSectorSize;
    if (table == 0 || table + 4 > image.size()) {
        return sectors;
    }
    const uint32_t end = ReadBE32(image.data(), static_cast<int32_t>(table));
    for (size_t at = table + ifo::kAdmapEntries; at + 4 <= table + end + 1; at += 4) {
        sectors.push_back(ReadBE32(image.data(), static_cast<int32_t>(at)));
    }
    return sectors;
}

std::vector<CellSpec> ReadTitlePgcCells(const std::vector<uint8_t>& image, int32_t pgcn) {
    std::vector<CellSpec> cells;
    const size_t pgcit = size_t{ReadBE32(image.data(), ifo::kPgcitOrPtlMait)} * ifo::kSectorSize;
    const size_t pgc = pgcit + ReadBE32(image.data(), static_cast<int32_t>(pgcit + 8 * pgcn + 4));
    const uint8_t count = image[pgc + ifo::kPgcCellCount];
    const size_t playback =
        pgc + ReadBE16(image.data(), static_cast<int32_t>(pgc + ifo::kPgcCellPlaybackOffset));
    const size_t position =
        pgc + ReadBE16(image.data(), static_cast<int32_t>(pgc + ifo::kPgcCellPositionOffset));
    for (size_t i = 0; i < count; ++i) {
        const int32_t e = static_cast<int32_t>(playback + 24 * i);
        const int32_t p = static_cast<int32_t>(position + 4 * i);
        CellSpec c;
        c.vobId = ReadBE16(image.data(), p);
        c.cellId = image[static_cast<size_t>(p) + 3];
        c.category = image[static_cast<size_t>(e)];
        c.playbackTime = ReadBE32(image.data(), e + ifo::kCellPlaybackTime);
        c.firstSector = ReadBE32(image.data(), e + ifo::kCellFirstVobuStart);
        c.firstIlvuEnd = ReadBE32(image.data(), e + ifo::kCellFirstIlvuEnd);
        c.lastVobuStart = ReadBE32(image.data(), e + ifo::kCellLastVobuStart);
        c.lastSector = ReadBE32(image.data(), e + ifo::kCellLastVobuEnd);
        cells.push_back(c);
    }
    return cells;
}

}  // namespace dorvex::testkit
