#include "engine/check/VerifyIfo.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <vector>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "ifo/PgcStructure.h"
#include "support/BigEndian.h"
#include "support/FileSystem.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

int64_t SectorsOf(FileSystem& files, const std::string& path) {
    return files.SizeBytes(path) / ifo::kSectorSize;
}

std::string CellName(bool menu, uint16_t lu, uint16_t pgcn, uint16_t cell) {
    std::string name = menu ? "menu LU " + std::to_string(lu) + " PGC " : "PGC ";
    return name + std::to_string(pgcn) + " cell " + std::to_string(cell);
}

std::string Pair(uint32_t vobId, uint32_t cellId) {
    return std::to_string(vobId) + "/" + std::to_string(cellId);
}

void IfoFinding(CVerifyReport& report, const CIfoFile& ifo, const char* kind,
                const std::string& message) {
    report.Add({kind, GetFileName(ifo.m_szPath), "", -1, -1, message});
}

void CompareField(CVerifyReport& report, CIfoFile& ifo, int32_t field, const char* name,
                  int64_t expected, const std::string& why) {
    const uint32_t value = ReadBE32(ifo.Data(), field);
    if (static_cast<int64_t>(value) != expected) {
        IfoFinding(report, ifo, finding::kSizeField,
                   std::string(name) + " " + std::to_string(value) + ", expected " +
                       std::to_string(expected) + " (" + why + ")");
    }
}

std::vector<uint8_t> ReadAll(FileSystem& files, const std::string& path) {
    std::vector<uint8_t> bytes;
    std::string error;
    files.ReadWhole(path, bytes, error);
    return bytes;
}

}  // namespace

namespace {

// The entries of a domain's cell address table; an entry naming a VOB ID above the table's VOB
// count is a finding.
std::vector<const uint8_t*> CellAddressEntries(CIfoFile& ifo, int32_t index,
                                               const CVerifyStream& stream, CVerifyReport& report) {
    std::vector<const uint8_t*> entries;
    const uint8_t* cadt = ifo.GetTable(index);
    const uint32_t end = ifo.GetTableEnd(index);
    const int64_t n = end < ifo::kTableEntries - 1
                          ? 0
                          : (int64_t{end} + 1 - ifo::kTableEntries) / ifo::kCAdtEntrySize;
    const uint16_t vobs = ReadBE16(cadt, ifo::kTableCount);
    for (int64_t i = 0; i < n; ++i) {
        const uint8_t* entry = cadt + ifo::kTableEntries + i * ifo::kCAdtEntrySize;
        if (!ifo.Contains(entry, ifo::kCAdtEntrySize)) {
            break;
        }
        entries.push_back(entry);
        const uint16_t vobId = ReadBE16(entry, ifo::kCAdtVobId);
        if (vobId > vobs) {
            report.Add({finding::kCellAddressVobCount, GetFileName(ifo.m_szPath), stream.Label(),
                        ReadBE32(entry, ifo::kCAdtFirstSector), -1,
                        "cell address table names VOB ID " + std::to_string(vobId) + " of " +
                            std::to_string(vobs) + " VOBs"});
        }
    }
    return entries;
}

// What a PGC says of one of its cells.
struct PgcCell {
    std::string name;
    uint16_t vobId;
    uint8_t cellId;
    uint32_t first;
    uint32_t lastStart;
    uint32_t last;
};

PgcCell ReadPgcCell(bool menu, uint16_t lu, uint16_t pgcn, uint16_t cell, const uint8_t* playback,
                    const uint8_t* position) {
    return {CellName(menu, lu, pgcn, cell),
            ReadBE16(position, ifo::kCellPositionVobId),
            position[ifo::kCellPositionCellId],
            ReadBE32(playback, ifo::kCellFirstVobuStart),
            ReadBE32(playback, ifo::kCellLastVobuStart),
            ReadBE32(playback, ifo::kCellLastVobuEnd)};
}

// The cell's first and last VOBU start hold navpacks carrying its VOB/cell ID; false when one
// holds no navpack at all, and the cell's other checks would measure from nothing.
bool CheckCellNavpacks(const PgcCell& c, const CVerifyStream& stream, CVerifyReport& report) {
    for (const uint32_t sector : {c.first, c.lastStart}) {
        const int32_t nav = stream.NavIndex(sector);
        if (nav < 0) {
            stream.Report(report, finding::kCellNotNavpack, sector,
                          c.name + " (" + Pair(c.vobId, c.cellId) + "): sector " +
                              std::to_string(sector) + " is not a navpack");
            return false;
        }
        if (stream.NavVobId(nav) != c.vobId || stream.NavCellId(nav) != c.cellId) {
            stream.Report(report, finding::kCellIds, sector,
                          c.name + " (" + Pair(c.vobId, c.cellId) + "): navpack at " +
                              std::to_string(sector) + " carries " +
                              Pair(stream.NavVobId(nav), stream.NavCellId(nav)));
        }
    }
    return true;
}

void CheckCellLastSector(const PgcCell& c, const CVerifyStream& stream, CVerifyReport& report) {
    const int64_t lastEnd = int64_t{c.lastStart} + stream.NavVobuEnd(stream.NavIndex(c.lastStart));
    if (c.last != lastEnd) {
        stream.Report(report, finding::kCellLastSector, c.lastStart,
                      c.name + ": last sector " + std::to_string(c.last) +
                          ", the last VOBU ends at " + std::to_string(lastEnd));
    }
}

// The cell address table holds the cell and covers its sectors: an interleaved cell has one
// entry per ILVU, which reach together from its first sector to its last (whether each entry
// holds a piece of the cell is the interleaved layout's check).
void CheckCellAddress(const PgcCell& c, const std::vector<const uint8_t*>& entries,
                      const CVerifyStream& stream, CVerifyReport& report) {
    bool found = false;
    uint32_t start = 0;
    uint32_t end = 0;
    for (const uint8_t* entry : entries) {
        if (ReadBE16(entry, ifo::kCAdtVobId) == c.vobId && entry[ifo::kCAdtCellId] == c.cellId) {
            const uint32_t first = ReadBE32(entry, ifo::kCAdtFirstSector);
            const uint32_t last = ReadBE32(entry, ifo::kCAdtLastSector);
            start = found ? std::min(start, first) : first;
            end = found ? std::max(end, last) : last;
            found = true;
        }
    }
    if (!found) {
        stream.Report(
            report, finding::kCellAddressMissing, c.first,
            c.name + ": " + Pair(c.vobId, c.cellId) + " is missing from the cell address table");
    } else if (start > c.first || end < c.last) {
        stream.Report(report, finding::kCellAddressRange, c.first,
                      c.name + ": cell address table " + std::to_string(start) + ".." +
                          std::to_string(end) + " does not cover " + std::to_string(c.first) +
                          ".." + std::to_string(c.last));
    }
}

}  // namespace

void VerifyPgcStructure(CIfoFile& ifo, bool menu, CVerifyReport& report) {
    for (const ImpossiblePgc& pgc : FindImpossiblePgcs(ifo, menu)) {
        IfoFinding(report, ifo, finding::kImpossiblePgc, pgc.text);
    }
}

void VerifyCells(CIfoFile& ifo, bool menu, const CVerifyStream& stream, CVerifyReport& report) {
    // The cells of a PGC no disc holds are bytes of other structures: its one finding says so.
    std::set<std::pair<uint16_t, uint16_t>> impossible;
    for (const ImpossiblePgc& pgc : FindImpossiblePgcs(ifo, menu)) {
        impossible.insert({pgc.lu, pgc.pgcn});
    }
    const int32_t index = menu ? IfoMenuCAdt : IfoVtsCAdt;
    const bool hasTable = ifo.GetTable(index) != nullptr;
    const std::vector<const uint8_t*> entries =
        hasTable ? CellAddressEntries(ifo, index, stream, report) : std::vector<const uint8_t*>();
    bool noTableReported = false;
    ifo.ForEachCell(
        menu, [&](uint16_t lu, uint16_t pgcn, uint16_t cell, uint8_t* playback, uint8_t* position) {
            if (impossible.count({lu, pgcn}) != 0) {
                return;
            }
            const PgcCell c = ReadPgcCell(menu, lu, pgcn, cell, playback, position);
            if (!CheckCellNavpacks(c, stream, report)) {
                return;
            }
            CheckCellLastSector(c, stream, report);
            if (hasTable) {
                CheckCellAddress(c, entries, stream, report);
            } else if (!noTableReported) {
                noTableReported = true;
                stream.Report(report, finding::kCellAddressMissing, c.first,
                              "there is no cell address table");
            }
        });
}

void VerifyVobuAdmap(CIfoFile& ifo, bool menu, const CVerifyStream& stream, CVerifyReport& report) {
    const int32_t index = menu ? IfoMenuVobuAdmap : IfoVtsVobuAdmap;
    const std::vector<uint32_t>& navs = stream.NavSectors();
    const uint8_t* admap = ifo.GetTable(index);
    if (admap == nullptr) {
        if (!navs.empty()) {
            stream.Report(report, finding::kVobuAdmap, navs.front(), "no VOBU address map");
        }
        return;
    }
    const int64_t end = ifo.GetTableEnd(index);
    const int64_t n = std::max<int64_t>(0, (end + 1 - ifo::kAdmapEntries) / ifo::kAdmapEntrySize);
    int64_t i = 0;
    for (; i < n && i < static_cast<int64_t>(navs.size()); ++i) {
        const uint8_t* entry = admap + ifo::kAdmapEntries + i * ifo::kAdmapEntrySize;
        if (!ifo.Contains(entry, ifo::kAdmapEntrySize) ||
            ReadBE32(entry, 0) != navs[static_cast<size_t>(i)]) {
            break;
        }
    }
    if (i == n && n == static_cast<int64_t>(navs.size())) {
        return;
    }
    const int64_t sector =
        i < static_cast<int64_t>(navs.size()) ? navs[static_cast<size_t>(i)] : stream.Sectors();
    stream.Report(report, finding::kVobuAdmap, sector,
                  "VOBU address map holds " + std::to_string(n) + " entries, the stream " +
                      std::to_string(navs.size()) + " navpacks; they differ from entry " +
                      std::to_string(i + 1));
}

void VerifyTimeMaps(CIfoFile& ifo, const CVerifyStream& stream, CVerifyReport& report) {
    uint8_t* table = ifo.GetTable(IfoVtsTmapt);
    if (table == nullptr) {
        return;
    }
    const uint16_t maps = ReadBE16(table, ifo::kTableCount);
    for (int32_t m = 0; m < maps; ++m) {
        const int32_t pointer = ifo::kTmapPointers + 4 * m;
        if (!ifo.Contains(table + pointer, 4)) {
            break;
        }
        const uint8_t* map = table + ReadBE32(table, pointer);
        if (!ifo.Contains(map, ifo::kTmapEntries)) {
            continue;
        }
        const uint16_t entries = ReadBE16(map, ifo::kTmapEntryCount);
        for (int32_t e = 0; e < entries; ++e) {
            if (!ifo.Contains(map + ifo::kTmapEntries + 4 * e, 4)) {
                break;
            }
            const uint32_t sector =
                ReadBE32(map, ifo::kTmapEntries + 4 * e) & ~ifo::kTmapDiscontinuity;
            if (!stream.IsNav(sector)) {
                stream.Report(report, finding::kTimeMapEntry, sector,
                              "time map " + std::to_string(m + 1) + " entry " +
                                  std::to_string(e + 1) + " points at " + std::to_string(sector) +
                                  ", not a navpack");
            }
        }
    }
}

void VerifyReferencedCells(CIfoFile& ifo, bool menu, const CVerifyStream& stream,
                           CVerifyReport& report) {
    std::unordered_set<uint32_t> referenced;
    ifo.ForEachCell(menu, [&](uint16_t, uint16_t, uint16_t, uint8_t*, uint8_t* position) {
        referenced.insert(static_cast<uint32_t>(ReadBE16(position, ifo::kCellPositionVobId)) << 8 |
                          position[ifo::kCellPositionCellId]);
    });
    std::unordered_set<uint32_t> noted;
    const std::vector<uint32_t>& navs = stream.NavSectors();
    for (size_t i = 0; i < navs.size(); ++i) {
        const int32_t nav = static_cast<int32_t>(i);
        const uint32_t vcid =
            static_cast<uint32_t>(stream.NavVobId(nav)) << 8 | stream.NavCellId(nav);
        if (referenced.count(vcid) == 0 && noted.insert(vcid).second) {
            stream.Report(report, finding::kUnreferencedCell, navs[i],
                          "cell " + Pair(stream.NavVobId(nav), stream.NavCellId(nav)) +
                              " is played by no PGC");
        }
    }
}

void VerifyVtsSizes(CIfoFile& ifo, FileSystem& files, const TitleSetFiles& set,
                    const MissingDomains& missing, CVerifyReport& report) {
    const int64_t ifoSectors = SectorsOf(files, set.Ifo());
    const int64_t menu = SectorsOf(files, set.Vob(kMenuVobPart));
    int64_t title = 0;
    for (const VobPart& part : set.TitleParts()) {
        title += part.sectors;
    }
    const std::string sizes = "IFO " + std::to_string(ifoSectors) + ", menu VOB " +
                              std::to_string(menu) + ", title VOBs " + std::to_string(title) +
                              " sectors";
    CompareField(report, ifo, ifo::kLastSectorOfIfo, "VTSI_LAST_SECTOR", ifoSectors - 1, sizes);
    // A field that counts a missing VOB cannot agree with the files: the missing VOB's own
    // finding says so.
    if (!missing.menu) {
        CompareField(report, ifo, ifo::kMenuVobsSector, "VTSM_VOBS", menu > 0 ? ifoSectors : 0,
                     sizes);
        CompareField(report, ifo, ifo::kTitleVobsOrTtSrpt, "VTSTT_VOBS", ifoSectors + menu, sizes);
    }
    if (!missing.menu && !missing.titles) {
        CompareField(report, ifo, ifo::kLastSectorOfSet, "VTS_LAST_SECTOR",
                     2 * ifoSectors + menu + title - 1, sizes);
    }
}

namespace {

// The video manager's own files in sectors, and how findings quote them.
struct VmgFileSizes {
    int64_t ifoSectors;
    int64_t menu;
    std::string text;
};

VmgFileSizes VmgFileSizesOf(FileSystem& files, const std::string& folder) {
    const TitleSetFiles manager = TitleSetFiles::InFolder(files, folder, kVideoManager);
    const int64_t ifoSectors = SectorsOf(files, manager.Ifo());
    const int64_t menu = SectorsOf(files, manager.Vob(kMenuVobPart));
    return {
        ifoSectors, menu,
        "IFO " + std::to_string(ifoSectors) + ", menu VOB " + std::to_string(menu) + " sectors"};
}

// Where each title set starts by the files, the first at `first`: title sets lie one after
// another, IFO, menu VOB, title VOBs, BUP.
std::vector<int64_t> TitleSetStarts(FileSystem& files, const std::string& folder, int64_t first) {
    std::vector<int64_t> start(kLastTitleSet + 1, 0);
    int64_t next = first;
    for (int vts = 1; vts <= kLastTitleSet; ++vts) {
        start[static_cast<size_t>(vts)] = next;
        const TitleSetFiles set = TitleSetFiles::InFolder(files, folder, vts);
        next += 2 * SectorsOf(files, set.Ifo()) + SectorsOf(files, set.Vob(kMenuVobPart));
        // The title VOBs count up to the first missing or empty one, as the repair counts them.
        int32_t expected = kFirstTitleVobPart;
        for (const VobPart& part : set.TitleParts()) {
            if (part.number != expected++ || part.sectors == 0) {
                break;
            }
            next += part.sectors;
        }
    }
    return start;
}

struct TitleStart {
    int32_t title;
    uint8_t titleSet;
    uint32_t value;
    int64_t expected;
};

// The titles whose start the files can tell: those before the first title set that is missing
// or lacks a VOB its IFO describes (every later one moves by what is not there). A title set
// that TT_SRPT names and whose IFO is missing is a finding, once.
std::vector<TitleStart> TitlesToPlace(CIfoFile& vmg, FileSystem& files, const std::string& folder,
                                      const VmgContext& context, const std::vector<int64_t>& start,
                                      CVerifyReport& report) {
    std::vector<TitleStart> titles;
    const uint8_t* table = vmg.GetTable(IfoTtSrpt);
    if (table == nullptr) {
        return titles;
    }
    std::vector<bool> reportedMissing(kLastTitleSet + 1, false);
    const uint16_t count = ReadBE16(table, ifo::kTableCount);
    for (int32_t t = 0; t < count; ++t) {
        const uint8_t* entry = table + ifo::kTableEntries + t * ifo::kTtSrptEntrySize;
        if (!vmg.Contains(entry, ifo::kTtSrptEntrySize)) {
            break;
        }
        const uint8_t titleSet = entry[ifo::kTtSrptTitleSet];
        if (titleSet >= 1 && titleSet <= kLastTitleSet &&
            !files.Exists(TitleSetFiles::InFolder(files, folder, titleSet).Ifo())) {
            if (!reportedMissing[titleSet]) {
                reportedMissing[titleSet] = true;
                const std::string name =
                    GetFileName(TitleSetFiles::InFolder(files, folder, titleSet).Ifo());
                report.Add({finding::kIfoDamaged, name, "", -1, -1,
                            name + " is missing; TT_SRPT puts title " + std::to_string(t + 1) +
                                " in title set " + std::to_string(titleSet)});
            }
            continue;
        }
        if (titleSet >= context.firstIncompleteTitleSet) {
            continue;
        }
        titles.push_back({t + 1, titleSet, ReadBE32(entry, ifo::kTtSrptStartSector),
                          titleSet <= kLastTitleSet ? start[titleSet] : 0});
    }
    return titles;
}

// dvdauthor reserves room after a video manager without a menu and starts the title sets behind
// it: readers take that as it is, so it is said (a note, and true), not counted.
bool NotePadding(CIfoFile& vmg, const VmgFileSizes& sizes, const VmgContext& context,
                 const std::vector<TitleStart>& titles, CVerifyReport& report) {
    const int64_t lastOfSet = ReadBE32(vmg.Data(), ifo::kLastSectorOfSet);
    const int64_t padding = lastOfSet - (2 * sizes.ifoSectors + sizes.menu - 1);
    bool padded = !context.menuMissing && padding > 0;
    for (const TitleStart& t : titles) {
        padded = padded && t.value == t.expected + padding;
    }
    if (padded) {
        report.AddNote({finding::kPaddedVideoManager, GetFileName(vmg.m_szPath), "", -1, -1,
                        "VMG_LAST_SECTOR " + std::to_string(lastOfSet) + " leaves " +
                            std::to_string(padding) +
                            " sectors after the video manager's files, and the title sets start "
                            "behind them"});
    }
    return padded;
}

void CompareTitleStarts(CIfoFile& vmg, const std::vector<TitleStart>& titles,
                        CVerifyReport& report) {
    for (const TitleStart& t : titles) {
        if (t.value != t.expected) {
            IfoFinding(report, vmg, finding::kTitleStartSector,
                       "title " + std::to_string(t.title) + " (VTS " + std::to_string(t.titleSet) +
                           ") starts at " + std::to_string(t.value) + ", the files put it at " +
                           std::to_string(t.expected));
        }
    }
}

}  // namespace

void VerifyVmgSizes(CIfoFile& vmg, FileSystem& files, const std::string& folder,
                    const VmgContext& context, CVerifyReport& report) {
    const VmgFileSizes sizes = VmgFileSizesOf(files, folder);
    CompareField(report, vmg, ifo::kLastSectorOfIfo, "VMGI_LAST_SECTOR", sizes.ifoSectors - 1,
                 sizes.text);
    if (!context.menuMissing) {
        CompareField(report, vmg, ifo::kMenuVobsSector, "VMGM_VOBS",
                     sizes.menu > 0 ? sizes.ifoSectors : 0, sizes.text);
    }
    const std::vector<TitleStart> titles =
        TitlesToPlace(vmg, files, folder, context,
                      TitleSetStarts(files, folder, 2 * sizes.ifoSectors + sizes.menu), report);
    if (NotePadding(vmg, sizes, context, titles, report)) {
        return;
    }
    if (!context.menuMissing) {
        CompareField(report, vmg, ifo::kLastSectorOfSet, "VMG_LAST_SECTOR",
                     2 * sizes.ifoSectors + sizes.menu - 1, sizes.text);
    }
    CompareTitleStarts(vmg, titles, report);
}

void VerifyBackupIfo(FileSystem& files, const std::string& ifoPath, CVerifyReport& report) {
    const std::string bupPath = BupOfIfo(files, ifoPath);
    if (!files.Exists(bupPath)) {
        report.Add({finding::kBupDiffers, GetFileName(bupPath), "", -1, -1,
                    GetFileName(bupPath) + " is missing"});
    } else if (ReadAll(files, ifoPath) != ReadAll(files, bupPath)) {
        report.Add({finding::kBupDiffers, GetFileName(bupPath), "", -1, -1,
                    GetFileName(bupPath) + " differs from " + GetFileName(ifoPath)});
    }
}

}  // namespace dorvex
