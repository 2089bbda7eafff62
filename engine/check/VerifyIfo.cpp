#include "engine/check/VerifyIfo.h"

#include <unordered_set>
#include <vector>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
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

void VerifyCells(CIfoFile& ifo, bool menu, const CVerifyStream& stream, CVerifyReport& report) {
    const int32_t index = menu ? IfoMenuCAdt : IfoVtsCAdt;
    std::vector<const uint8_t*> entries;
    uint8_t* cadt = ifo.GetTable(index);
    if (cadt != nullptr) {
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
                report.Add({finding::kCellAddressVobCount, GetFileName(ifo.m_szPath),
                            stream.Label(), ReadBE32(entry, ifo::kCAdtFirstSector), -1,
                            "cell address table names VOB ID " + std::to_string(vobId) + " of " +
                                std::to_string(vobs) + " VOBs"});
            }
        }
    }

    bool noTableReported = false;
    ifo.ForEachCell(menu, [&](uint16_t lu, uint16_t pgcn, uint16_t cell, uint8_t* playback,
                              uint8_t* position) {
        const std::string name = CellName(menu, lu, pgcn, cell);
        const uint16_t vobId = ReadBE16(position, ifo::kCellPositionVobId);
        const uint8_t cellId = position[ifo::kCellPositionCellId];
        const uint32_t first = ReadBE32(playback, ifo::kCellFirstVobuStart);
        const uint32_t lastStart = ReadBE32(playback, ifo::kCellLastVobuStart);
        const uint32_t last = ReadBE32(playback, ifo::kCellLastVobuEnd);
        for (const uint32_t sector : {first, lastStart}) {
            const int32_t nav = stream.NavIndex(sector);
            if (nav < 0) {
                stream.Report(report, finding::kCellNotNavpack, sector,
                              name + " (" + Pair(vobId, cellId) + "): sector " +
                                  std::to_string(sector) + " is not a navpack");
                return;
            }
            if (stream.NavVobId(nav) != vobId || stream.NavCellId(nav) != cellId) {
                stream.Report(report, finding::kCellIds, sector,
                              name + " (" + Pair(vobId, cellId) + "): navpack at " +
                                  std::to_string(sector) + " carries " +
                                  Pair(stream.NavVobId(nav), stream.NavCellId(nav)));
            }
        }
        const int64_t lastEnd = int64_t{lastStart} + stream.NavVobuEnd(stream.NavIndex(lastStart));
        if (last != lastEnd) {
            stream.Report(report, finding::kCellLastSector, lastStart,
                          name + ": last sector " + std::to_string(last) +
                              ", the last VOBU ends at " + std::to_string(lastEnd));
        }
        if (cadt == nullptr) {
            if (!noTableReported) {
                noTableReported = true;
                stream.Report(report, finding::kCellAddressMissing, first,
                              "there is no cell address table");
            }
            return;
        }
        for (const uint8_t* entry : entries) {
            if (ReadBE16(entry, ifo::kCAdtVobId) == vobId && entry[ifo::kCAdtCellId] == cellId) {
                const uint32_t start = ReadBE32(entry, ifo::kCAdtFirstSector);
                const uint32_t end = ReadBE32(entry, ifo::kCAdtLastSector);
                if (start > first || end < last) {
                    stream.Report(report, finding::kCellAddressRange, first,
                                  name + ": cell address table " + std::to_string(start) + ".." +
                                      std::to_string(end) + " does not cover " +
                                      std::to_string(first) + ".." + std::to_string(last));
                }
                return;
            }
        }
        stream.Report(
            report, finding::kCellAddressMissing, first,
            name + ": " + Pair(vobId, cellId) + " is missing from the cell address table");
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

void VerifyVmgSizes(CIfoFile& vmg, FileSystem& files, const std::string& folder,
                    const VmgContext& context, CVerifyReport& report) {
    const TitleSetFiles manager = TitleSetFiles::InFolder(files, folder, kVideoManager);
    const int64_t ifoSectors = SectorsOf(files, manager.Ifo());
    const int64_t menu = SectorsOf(files, manager.Vob(kMenuVobPart));
    const std::string sizes =
        "IFO " + std::to_string(ifoSectors) + ", menu VOB " + std::to_string(menu) + " sectors";
    CompareField(report, vmg, ifo::kLastSectorOfIfo, "VMGI_LAST_SECTOR", ifoSectors - 1, sizes);
    if (!context.menuMissing) {
        CompareField(report, vmg, ifo::kMenuVobsSector, "VMGM_VOBS", menu > 0 ? ifoSectors : 0,
                     sizes);
    }

    // Title sets lie one after another: IFO, menu VOB, title VOBs, BUP.
    std::vector<int64_t> start(kLastTitleSet + 1, 0);
    int64_t next = 2 * ifoSectors + menu;
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

    // The titles whose start the files can tell: those before the first title set that is
    // missing or lacks a VOB its IFO describes (every later one moves by what is not there).
    struct TitleStart {
        int32_t title;
        uint8_t titleSet;
        uint32_t value;
        int64_t expected;
    };
    std::vector<TitleStart> titles;
    std::vector<bool> reportedMissing(kLastTitleSet + 1, false);
    if (const uint8_t* table = vmg.GetTable(IfoTtSrpt)) {
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
    }

    // dvdauthor reserves room after a video manager without a menu and starts the title sets
    // behind it: readers take that as it is, so it is said, not counted.
    const int64_t lastOfSet = ReadBE32(vmg.Data(), ifo::kLastSectorOfSet);
    const int64_t padding = lastOfSet - (2 * ifoSectors + menu - 1);
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
        return;
    }
    if (!context.menuMissing) {
        CompareField(report, vmg, ifo::kLastSectorOfSet, "VMG_LAST_SECTOR",
                     2 * ifoSectors + menu - 1, sizes);
    }
    for (const TitleStart& t : titles) {
        if (t.value != t.expected) {
            IfoFinding(report, vmg, finding::kTitleStartSector,
                       "title " + std::to_string(t.title) + " (VTS " + std::to_string(t.titleSet) +
                           ") starts at " + std::to_string(t.value) + ", the files put it at " +
                           std::to_string(t.expected));
        }
    }
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
