#include "FuzzHarness.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>

#include "IfoBuilder.h"
#include "StreamBuilder.h"
#include "engine/VtsCleaner.h"
#include "ifo/CellRecords.h"
#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/TitleSetFiles.h"

namespace dorvex::testkit {

namespace {

// splitmix64: the made-up parts of a run come from the input's seed, never from the clock.
class Rng {
  public:
    explicit Rng(uint64_t seed) : m_State(seed) {}
    uint32_t Next() {
        uint64_t z = (m_State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
    bool Chance(uint8_t outOf256) { return Below(256) < outOf256; }

  private:
    uint64_t m_State;
};

// Made-up sectors stay far below the int32 range, as a real title set's do, so that the sums a
// pass forms from them cannot overflow.
constexpr uint32_t kMaxSector = 1u << 28;
constexpr size_t kMaxNavpacks = 2048;
constexpr size_t kMaxPgcCells = 512;

// What the VOB pass hands the IFO repair: navpack lists (end entry last), cell table, VCIDMap.
struct RepairPlan {
    std::vector<int32_t> navOld;
    std::vector<int32_t> navNew;
    std::vector<CellTableEntry> cells;
    std::vector<VcidMapEntry> map;
};

struct PgcCell {
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    uint32_t first = 0;
    uint32_t last = 0;
};

std::vector<int32_t> NavpackSectors(CIfoFile& ifo, bool menu, const IfoControl& control, Rng& rng) {
    std::vector<int32_t> sectors;
    if ((control.flags & kIfoNavFromAdmap) != 0) {
        const int32_t index = menu ? IfoMenuVobuAdmap : IfoVtsVobuAdmap;
        if (const uint8_t* table = ifo.GetTable(index)) {
            const int64_t count = (static_cast<int64_t>(ifo.GetTableEnd(index)) + 1) / 4 - 1;
            for (int64_t i = 0; i < count && sectors.size() < kMaxNavpacks; ++i) {
                const uint8_t* entry = table + ifo::kAdmapEntries + i * ifo::kAdmapEntrySize;
                if (!ifo.Contains(entry, ifo::kAdmapEntrySize)) {
                    break;
                }
                const uint32_t sector = ReadBE32(entry, 0);
                if (sector < kMaxSector) {
                    sectors.push_back(static_cast<int32_t>(sector));
                }
            }
        }
        // The pass meets navpacks in stream order, each once.
        std::sort(sectors.begin(), sectors.end());
        sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
        return sectors;
    }
    int32_t sector = static_cast<int32_t>(rng.Below(4));
    for (int32_t i = 0; i < control.navpacks; ++i) {
        sectors.push_back(sector);
        sector += 1 + static_cast<int32_t>(rng.Below(16));
    }
    return sectors;
}

std::vector<PgcCell> CellsOfPgcs(CIfoFile& ifo, bool menu) {
    std::vector<PgcCell> cells;
    ifo.ForEachCell(menu, [&](uint16_t, uint16_t, uint16_t, uint8_t* playback, uint8_t* position) {
        if (cells.size() < kMaxPgcCells) {
            cells.push_back({ReadBE16(position, ifo::kCellPositionVobId),
                             position[ifo::kCellPositionCellId],
                             ReadBE32(playback, ifo::kCellFirstVobuStart),
                             ReadBE32(playback, ifo::kCellLastVobuEnd)});
        }
    });
    return cells;
}

// The VCIDMap as the engine's AddToMap fills it.
class MapBuilder {
  public:
    explicit MapBuilder(bool remapVobIds) : m_Remap(remapVobIds) {}
    const VcidMapEntry* Find(uint16_t vobId, uint8_t cellId) const {
        for (const VcidMapEntry& e : m_Map) {
            if (e.oldVobId == vobId && e.oldCellId == cellId) {
                return &e;
            }
        }
        return nullptr;
    }
    void Add(uint16_t vobId, uint8_t cellId) {
        if (Find(vobId, cellId) != nullptr) {
            return;
        }
        uint16_t newVobId = vobId;
        if (m_Remap) {
            auto it = std::find_if(m_Map.begin(), m_Map.end(),
                                   [&](const VcidMapEntry& e) { return e.oldVobId == vobId; });
            newVobId = it != m_Map.end() ? it->newVobId : m_NextVobId++;
        }
        const uint8_t newCellId = m_Counters.try_emplace(newVobId, uint8_t{1}).first->second++;
        m_Map.push_back({vobId, cellId, newVobId, newCellId});
    }
    std::vector<VcidMapEntry>& Map() { return m_Map; }

  private:
    bool m_Remap;
    uint16_t m_NextVobId = 1;
    std::unordered_map<uint16_t, uint8_t> m_Counters;
    std::vector<VcidMapEntry> m_Map;
};

// Plays a pass over a made-up stream: VOBUs at the navpack sectors, runs of one VCID forming
// cells, some runs dropped as unreferenced cells are, some VOBUs losing packs as blank packs do.
RepairPlan MakeRepairPlan(CIfoFile& ifo, bool menu, const IfoControl& control, Rng& rng) {
    RepairPlan plan;
    const std::vector<int32_t> sectors = NavpackSectors(ifo, menu, control, rng);
    const std::vector<PgcCell> pgcCells = CellsOfPgcs(ifo, menu);
    const int32_t readTotal =
        (sectors.empty() ? 0 : sectors.back() + 1) + static_cast<int32_t>(rng.Below(16));
    MapBuilder map((control.flags & kIfoKeepVobIds) == 0);

    // Packs ahead of the first navpack are kept but belong to no cell.
    int32_t written = sectors.empty() ? readTotal : sectors.front();
    bool haveOpen = false;
    bool dropping = false;
    CellTableEntry open;
    auto closeOpen = [&]() {
        if (haveOpen && !dropping) {
            open.lastLba = written - 1;
            if (const VcidMapEntry* e = map.Find(open.vobId, open.cellId)) {
                open.vobId = e->newVobId;
                open.cellId = e->newCellId;
            }
            plan.cells.push_back(open);
        }
    };
    for (size_t i = 0; i < sectors.size(); ++i) {
        const int32_t sector = sectors[i];
        const int32_t length = (i + 1 < sectors.size() ? sectors[i + 1] : readTotal) - sector;
        uint16_t vobId = open.vobId;
        uint8_t cellId = open.cellId;
        if ((control.flags & kIfoVcidFromPgcs) != 0 && !pgcCells.empty()) {
            auto it = std::find_if(pgcCells.begin(), pgcCells.end(), [&](const PgcCell& c) {
                return c.first <= static_cast<uint32_t>(sector) &&
                       static_cast<uint32_t>(sector) <= c.last;
            });
            if (it == pgcCells.end() && !haveOpen) {
                it = pgcCells.begin() + rng.Below(static_cast<uint32_t>(pgcCells.size()));
            }
            if (it != pgcCells.end()) {
                vobId = it->vobId;
                cellId = it->cellId;
            }
        } else if (!haveOpen || rng.Below(4) == 0) {
            if (!pgcCells.empty() && rng.Below(2) == 0) {
                const PgcCell& c = pgcCells[rng.Below(static_cast<uint32_t>(pgcCells.size()))];
                vobId = c.vobId;
                cellId = c.cellId;
            } else {
                vobId = static_cast<uint16_t>(1 + rng.Below(4));
                cellId = static_cast<uint8_t>(1 + rng.Below(8));
            }
        }
        if (!haveOpen || vobId != open.vobId || cellId != open.cellId) {
            closeOpen();
            haveOpen = true;
            open = {vobId, cellId, written, 0};
            dropping = rng.Chance(control.removal);
            if (!dropping) {
                map.Add(vobId, cellId);
            }
        }
        plan.navOld.push_back(sector);
        plan.navNew.push_back(written);
        if (dropping) {
            continue;
        }
        // The navpack itself stays; blank packs behind it may go.
        const int32_t removed = length > 1 && rng.Chance(control.removal)
                                    ? static_cast<int32_t>(rng.Below(static_cast<uint32_t>(length)))
                                    : 0;
        written += length - removed;
    }
    plan.navOld.push_back(readTotal);
    plan.navNew.push_back(written);
    if (!dropping && written > 0) {
        if (haveOpen) {
            closeOpen();
        } else {
            plan.cells.push_back({0, 0, 0, written - 1});  // the stream had no navpack at all
        }
    }
    plan.map = std::move(map.Map());

    if ((control.flags & kIfoScramble) != 0) {
        const uint32_t range = static_cast<uint32_t>(written) + 1;
        for (CellTableEntry& cell : plan.cells) {
            if (rng.Below(4) == 0) {
                cell.vobId = static_cast<uint16_t>(rng.Below(6));
                cell.cellId = static_cast<uint8_t>(rng.Below(10));
            }
            if (rng.Below(4) == 0) {
                cell.firstLba = static_cast<int32_t>(rng.Below(range));
                cell.lastLba = static_cast<int32_t>(rng.Below(range));
            }
        }
        for (VcidMapEntry& entry : plan.map) {
            if (rng.Below(4) == 0) {
                entry.newVobId = static_cast<uint16_t>(rng.Below(6));
                entry.newCellId = static_cast<uint8_t>(rng.Next());
            }
        }
    }
    return plan;
}

// One domain's repair, step by step as CVtsCleaner::UpdateIfos runs it.
void RepairDomain(CIfoFile& ifo, bool menu, const IfoControl& control, Rng& rng) {
    RepairPlan plan = MakeRepairPlan(ifo, menu, control, rng);
    const int32_t cells = static_cast<int32_t>(plan.cells.size());
    const int32_t navpacks = static_cast<int32_t>(plan.navOld.size());
    ifo.RemapCellPositions(plan.map, menu);
    ifo.RebuildCellAddressTable({plan.cells.data(), static_cast<size_t>(cells)}, menu);
    ifo.UpdateCellSectors(
        NavpackMap::WithEndEntry(plan.navOld.data(), plan.navNew.data(), navpacks), menu);
    if ((control.flags & kIfoNoPgcCheck) == 0) {
        ifo.CheckPgcSectors({plan.cells.data(), static_cast<size_t>(cells)}, menu);
    }
    if (!menu) {
        ifo.RebuildTimeMaps(
            NavpackMap::WithEndEntry(plan.navOld.data(), plan.navNew.data(), navpacks));
    }
    ifo.UpdatePlaybackTimes(menu);
    ifo.UpdateSizeFields(false);
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file != nullptr) {
        if (size > 0) {
            fwrite(data, 1, size, file);
        }
        fclose(file);
    }
}

// A file of the given size without data: the size fields read only sizes.
void SparseFile(const std::string& path, int64_t bytes) {
    WriteFile(path, nullptr, 0);
    if (truncate(path.c_str(), bytes) != 0) {
        perror(path.c_str());
    }
}

void Fail(FuzzOutcome& outcome, const std::string& problem) {
    if (outcome.consistent) {
        outcome.consistent = false;
        outcome.problem = problem;
    }
}

void NotReloadable(FuzzOutcome& outcome, const std::string& problem) {
    if (outcome.reloadable) {
        outcome.reloadable = false;
        outcome.reloadProblem = problem;
    }
}

// Saves the repaired image as the engine does and checks that the program accepts it again.
void SaveAndReload(CIfoFile& ifo, const std::string& path, FuzzOutcome& outcome) {
    if (ifo.Save(path) != 0) {
        Fail(outcome, "the repaired image could not be saved");
        return;
    }
    CIfoFile again(path);
    if (!again.m_bLoaded) {
        // The status line still holds the reason the load logged.
        NotReloadable(outcome,
                      "the repaired image is refused when loaded again: " + StatusText::Get());
    }
}

// The pieces one after the other. Sized first and copied into, not grown by insert: GCC 12
// warns (-Warray-bounds) about insert after a std::array in an optimized build, wrongly.
template <typename... Pieces>
std::vector<uint8_t> Concatenated(const Pieces&... pieces) {
    std::vector<uint8_t> out((pieces.size() + ...));
    auto at = out.begin();
    ((at = std::copy(pieces.begin(), pieces.end(), at)), ...);
    return out;
}

}  // namespace

std::array<uint8_t, kIfoControlBytes> IfoControl::Encode() const {
    return {flags,
            removal,
            navpacks,
            extra,
            static_cast<uint8_t>(seed >> 24),
            static_cast<uint8_t>(seed >> 16),
            static_cast<uint8_t>(seed >> 8),
            static_cast<uint8_t>(seed)};
}

IfoControl IfoControl::Decode(const uint8_t* bytes) {
    IfoControl c;
    c.flags = bytes[0];
    c.removal = bytes[1];
    c.navpacks = bytes[2];
    c.extra = bytes[3];
    c.seed = ReadBE32(bytes, 4);
    return c;
}

std::vector<uint8_t> IfoFuzzInput(const IfoControl& control, const std::vector<uint8_t>& image) {
    return Concatenated(control.Encode(), image);
}

FuzzOutcome RunVtsIfoInput(const uint8_t* data, size_t size, const std::string& folder) {
    FuzzOutcome outcome;
    if (size < kIfoControlBytes || size - kIfoControlBytes > kMaxIfoImage) {
        return outcome;
    }
    const IfoControl control = IfoControl::Decode(data);
    ClearScratchFolder(folder);
    const std::string path = folder + "/VTS_01_0.IFO";
    WriteFile(path, data + kIfoControlBytes, size - kIfoControlBytes);
    Rng rng(control.seed);
    if ((control.flags & kIfoVobFiles) != 0) {
        SparseFile(folder + "/VTS_01_0.VOB", int64_t{2048} * rng.Below(64));
        SparseFile(VobPath(folder, 1, 1), int64_t{2048} * (1 + rng.Below(4096)));
        SparseFile(VobPath(folder, 1, 2), int64_t{2048} * rng.Below(4096));
    }

    CIfoFile ifo(path);
    outcome.loaded = ifo.m_bLoaded;
    if (!ifo.m_bLoaded) {
        return outcome;
    }
    std::vector<bool> domains;
    if ((control.flags & kIfoBothDomains) != 0) {
        domains = {true, false};  // a full run: the menu VOB first, then the title VOBs
    } else {
        domains = {(control.flags & kIfoMenuDomain) != 0};
    }
    for (size_t d = 0; d < domains.size() && outcome.consistent && outcome.reloadable; ++d) {
        if (d > 0 && ifo.Load(path) != 0) {
            break;  // the reload above has said why
        }
        RepairDomain(ifo, domains[d], control, rng);
        SaveAndReload(ifo, path, outcome);
    }
    return outcome;
}

FuzzOutcome RunVmgIfoInput(const uint8_t* data, size_t size, const std::string& folder) {
    FuzzOutcome outcome;
    if (size < kIfoControlBytes || size - kIfoControlBytes > kMaxIfoImage) {
        return outcome;
    }
    const IfoControl control = IfoControl::Decode(data);
    ClearScratchFolder(folder);
    const std::string path = folder + "/VIDEO_TS.IFO";
    WriteFile(path, data + kIfoControlBytes, size - kIfoControlBytes);
    Rng rng(control.seed);
    if ((control.flags & kIfoVobFiles) != 0) {
        SparseFile(folder + "/VIDEO_TS.VOB", int64_t{2048} * rng.Below(64));
    }
    // The title sets whose files the size fields and the trimming count.
    for (int32_t set = 1; set <= 7; ++set) {
        if ((control.extra & (1u << (set - 1))) != 0) {
            SparseFile(folder + "/" + DvdFileName(set, 0, "IFO"),
                       int64_t{2048} * (1 + rng.Below(8)));
            SparseFile(VobPath(folder, set, 1), int64_t{2048} * rng.Below(1024));
        }
    }

    CIfoFile ifo(path);
    outcome.loaded = ifo.m_bLoaded;
    if (!ifo.m_bLoaded) {
        return outcome;
    }
    // The run on VIDEO_TS.VOB repairs the menu domain ...
    RepairDomain(ifo, true, control, rng);
    SaveAndReload(ifo, path, outcome);
    // ... and every run ends with the video manager's sizes and its trimmed title-set tables.
    if (!outcome.consistent || ifo.Load(path) != 0) {
        return outcome;
    }
    if ((control.extra & 0x80) != 0) {
        ifo.TrimTitleSets(static_cast<int32_t>(control.seed % 100));
    }
    ifo.UpdateSizeFields(true);
    SaveAndReload(ifo, path, outcome);
    return outcome;
}

std::array<uint8_t, kVobControlBytes> VobControl::Encode() const {
    std::array<uint8_t, kVobControlBytes> out = {};
    out[0] = flags;
    out[1] = ifo;
    out[2] = layout;
    std::copy(cells.begin(), cells.end(), out.begin() + 3);
    out[3 + kFuzzCells] = categories;
    out[4 + kFuzzCells] = splitAt;
    out[5 + kFuzzCells] = patches;
    return out;
}

VobControl VobControl::Decode(const uint8_t* bytes) {
    VobControl c;
    c.flags = bytes[0];
    c.ifo = bytes[1];
    c.layout = bytes[2];
    std::copy(bytes + 3, bytes + 3 + kFuzzCells, c.cells.begin());
    c.categories = bytes[3 + kFuzzCells];
    c.splitAt = bytes[4 + kFuzzCells];
    c.patches = bytes[5 + kFuzzCells];
    return c;
}

std::vector<uint8_t> VobFuzzInput(const VobControl& control, const std::vector<uint8_t>& packs) {
    // Patch slots are part of the layout even when the IFO takes none of them.
    const size_t slots = 3 * std::min<size_t>(control.patches, kMaxIfoPatches);
    return Concatenated(control.Encode(), std::vector<uint8_t>(slots, 0), packs);
}

std::vector<uint8_t> BuildFuzzVtsIfo(const VobControl& control) {
    const int32_t pgcCount = 1 + (control.layout & 1);
    const int32_t perPgc = 1 + ((control.layout >> 1) & 3);
    std::vector<PgcSpec> pgcs(static_cast<size_t>(pgcCount));
    std::vector<uint32_t> admap;
    uint32_t sector = 0;
    for (int32_t i = 0; i < pgcCount * perPgc; ++i) {
        const uint8_t d = control.cells[static_cast<size_t>(i)];
        const uint32_t length = 1 + 3u * (d >> 5);
        CellSpec cell =
            Cell(static_cast<uint16_t>(1 + (d & 3)), static_cast<uint8_t>(1 + ((d >> 2) & 7)),
                 sector, sector + length / 2, sector + length - 1);
        if ((control.categories & (1u << i)) != 0) {
            cell.category = ifo::kCategoryAngleBlockBit | ifo::kCategoryBlockModeLowBit |
                            ifo::kCategoryInterleaved;
            cell.firstIlvuEnd = sector + length / 2;
        }
        cell.playbackTime = (d & 1) != 0 ? 0x00000240u : 0;
        pgcs[static_cast<size_t>(i / perPgc)].push_back(cell);
        admap.push_back(sector);
        if (length / 2 > 0) {
            admap.push_back(sector + length / 2);
        }
        sector += length;
    }
    VtsSpec vts;
    if ((control.flags & kVobMenu) != 0) {
        vts.menuUnits = {pgcs};
        vts.menuCAdt = CAdtFromPgcs(pgcs);
        vts.menuAdmap = admap;
    } else {
        vts.titlePgcs = pgcs;
        vts.titleCAdt = CAdtFromPgcs(pgcs);
        vts.titleAdmap = admap;
        vts.timeMapTable = (control.layout & 8) == 0;
        if (vts.timeMapTable) {
            vts.timeMaps = {TimeMapSpec{1, admap}};
        }
    }
    return BuildVtsIfo(vts);
}

namespace {

void ConfigureEngine(CVtsCleaner& engine, const VobControl& control, bool inPlace) {
    engine.m_InPlace = inPlace ? 1 : 0;
    engine.m_RemoveUnrefed = (control.flags & kVobRemoveUnrefed) != 0 ? 1 : 0;
    engine.m_ResetIlvu = (control.flags & kVobResetIlvu) != 0 ? 1 : 0;
    engine.m_RemapVOBIDs = (control.flags & kVobKeepVobIds) != 0 ? 0 : 1;
    engine.m_FixPGCLBAs = (control.flags & kVobNoPgcCheck) != 0 ? 0 : 1;
    // Message counters live for the program's life; each input starts as a fresh program.
    CVtsCleaner::s_BlankReplacedInPlace = 0;
    CVtsCleaner::s_BlankSkippedInPlace = 0;
}

}  // namespace

FuzzOutcome RunVobPassInput(const uint8_t* data, size_t size, const std::string& folder) {
    FuzzOutcome outcome;
    if (size < kVobControlBytes) {
        return outcome;
    }
    const VobControl control = VobControl::Decode(data);
    const size_t patches = std::min<size_t>(control.patches, kMaxIfoPatches);
    if (size < kVobControlBytes + 3 * patches) {
        return outcome;
    }
    const uint8_t* patch = data + kVobControlBytes;
    const uint8_t* stream = patch + 3 * patches;
    const size_t streamBytes =
        std::min(size - kVobControlBytes - 3 * patches, size_t{kMaxFuzzPacks} * kPack);

    // The files of the title set, laid out anew before each run.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    const bool menu = (control.flags & kVobMenu) != 0;
    const std::string ifoPath = folder + "/VTS_01_0.IFO";
    const uint8_t ifoKind = control.ifo % 3;
    if (ifoKind != kVobNoIfo) {
        std::vector<uint8_t> image = BuildFuzzVtsIfo(control);
        if (ifoKind == kVobPatchedIfo) {
            for (size_t i = 0; i < patches; ++i) {
                const size_t at = ReadBE16(patch, static_cast<int32_t>(3 * i)) % image.size();
                image[at] = patch[3 * i + 2];
            }
        }
        files.emplace_back(ifoPath, image);
        files.emplace_back(folder + "/VTS_01_0.BUP", image);
    }
    if ((control.flags & kVobVmgIfo) != 0) {
        VmgSpec vmg;
        vmg.titles = {TitleSpec{1, 1, 0}};
        const std::vector<uint8_t> image = BuildVmgIfo(vmg);
        files.emplace_back(folder + "/VIDEO_TS.IFO", image);
        files.emplace_back(folder + "/VIDEO_TS.BUP", image);
    }
    const std::string firstVob = menu ? folder + "/VTS_01_0.VOB" : VobPath(folder, 1, 1);
    size_t firstBytes = streamBytes;
    if (!menu && (control.flags & kVobSplit) != 0) {
        firstBytes = std::min(streamBytes, size_t{control.splitAt} * kPack);
    }
    files.emplace_back(firstVob, std::vector<uint8_t>(stream, stream + firstBytes));
    if (firstBytes < streamBytes || (!menu && (control.flags & kVobSplit) != 0)) {
        int32_t number = 2;
        if ((control.flags & kVobEmptyFile) != 0) {
            files.emplace_back(VobPath(folder, 1, number++), std::vector<uint8_t>());
        }
        files.emplace_back(VobPath(folder, 1, number),
                           std::vector<uint8_t>(stream + firstBytes, stream + streamBytes));
    }
    auto layOut = [&]() {
        ClearScratchFolder(folder);
        for (const auto& [path, bytes] : files) {
            WriteFile(path, bytes.data(), bytes.size());
        }
    };

    layOut();
    {
        CIfoFile probe(ifoPath);
        outcome.loaded = probe.m_bLoaded;
    }
    auto checkIfo = [&](const CVtsCleaner& engine, const char* run) {
        if (outcome.loaded && !engine.RunInterrupted()) {
            CIfoFile after(ifoPath);
            if (!after.m_bLoaded) {
                NotReloadable(outcome, std::string(run) +
                                           ": the repaired IFO is refused: " + StatusText::Get());
            }
        }
    };

    {
        CVtsCleaner engine;
        ConfigureEngine(engine, control, true);
        if (engine.Open(firstVob) != 0) {
            Fail(outcome, "the engine does not open " + firstVob);
            return outcome;
        }
        engine.ProcessVts();
        checkIfo(engine, "in place");
    }

    layOut();
    {
        CVtsCleaner engine;
        ConfigureEngine(engine, control, false);
        if (engine.Open(firstVob) != 0) {
            Fail(outcome, "the engine does not open " + firstVob);
            return outcome;
        }
        engine.ProcessVts();
        checkIfo(engine, "from backup");
        engine.RestoreBackup();
    }
    // The backup keeps every byte: restoring it gives back each file the run started from. An
    // empty VOB is no part of the stream; the run removes it and nothing brings it back. Nor
    // does it bring back a VOB of less than a KiB: the pass passes over it as empty, but the
    // tidying renames it to close the gap before it, and the restore keeps the renamed file.
    for (const auto& [path, bytes] : files) {
        if (bytes.size() >= 1024 && ReadBytes(path) != bytes) {
            Fail(outcome, "restoring the backup does not give back " + GetFileName(path));
        }
    }
    return outcome;
}

void ClearScratchFolder(const std::string& folder) {
    const std::string backup = folder + "/DorvexBackup";
    DeleteFolderFiles(backup);
    rmdir(backup.c_str());
    DeleteFolderFiles(folder);
}

}  // namespace dorvex::testkit
