#include "common/DiscBuilder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "common/IfoBuilder.h"
#include "common/StreamBuilder.h"
#include "engine/PackLayout.h"
#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {

namespace fs = std::filesystem;

namespace {

// The cells and VOBU starts of a stream of files, from its navpacks.
struct Described {
    PgcSpec cells;
    std::vector<uint32_t> admap;
};

Described Describe(const std::vector<std::string>& files) {
    Described out;
    uint32_t sector = 0;
    for (const std::string& file : files) {
        for (const auto& pack : ReadPacks(file)) {
            if (IsNavPack(pack.data())) {
                const NavView nav = ReadNav(pack.data());
                out.admap.push_back(sector);
                if (out.cells.empty() || out.cells.back().vobId != nav.vobId ||
                    out.cells.back().cellId != nav.cellId) {
                    out.cells.push_back(Cell(nav.vobId, nav.cellId, sector, sector, sector));
                }
                out.cells.back().lastVobuStart = sector;
            }
            if (!out.cells.empty()) {
                out.cells.back().lastSector = sector;
            }
            ++sector;
        }
    }
    return out;
}

}  // namespace

Tree ReadTree(const std::string& folder) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            const std::vector<uint8_t> bytes = ReadBytes(entry.path().string());
            tree[fs::relative(entry.path(), folder).string()] =
                std::string(bytes.begin(), bytes.end());
        }
    }
    return tree;
}

void WriteIfoDescribing(const std::string& folder, int32_t titleSet,
                        const std::vector<CellRef>& unplayed) {
    if (titleSet == 0) {
        const Described menu = Describe({folder + "/VIDEO_TS.VOB"});
        VmgSpec vmg;
        vmg.menuUnits = {{menu.cells}};
        vmg.menuCAdt = CAdtFromPgcs({menu.cells});
        vmg.menuAdmap = menu.admap;
        vmg.menuTables = true;
        WriteIfoPair(folder + "/VIDEO_TS.IFO", BuildVmgIfo(vmg));
        return;
    }
    std::vector<std::string> titleFiles;
    for (int32_t part = 1; part <= 9; ++part) {
        if (fs::exists(VobPath(folder, titleSet, part))) {
            titleFiles.push_back(VobPath(folder, titleSet, part));
        }
    }
    VtsSpec vts;
    const Described titles = Describe(titleFiles);
    vts.titleCAdt = CAdtFromPgcs({titles.cells});
    vts.titleAdmap = titles.admap;
    PgcSpec played = titles.cells;
    std::erase_if(played, [&](const CellSpec& cell) {
        return std::find(unplayed.begin(), unplayed.end(), CellRef(cell.vobId, cell.cellId)) !=
               unplayed.end();
    });
    vts.titlePgcs = {played};
    const std::string menuVob = VobPath(folder, titleSet, 0);
    if (fs::exists(menuVob)) {
        const Described menu = Describe({menuVob});
        vts.menuUnits = {{menu.cells}};
        vts.menuCAdt = CAdtFromPgcs({menu.cells});
        vts.menuAdmap = menu.admap;
    }
    char name[32];
    std::snprintf(name, sizeof(name), "/VTS_%02d_0.IFO", static_cast<int>(titleSet));
    WriteIfoPair(folder + name, BuildVtsIfo(vts));
}

namespace {

constexpr uint16_t kPreUnitVob = 1;
constexpr int32_t kPreUnitCellVobus = 4;
constexpr uint8_t kSeamlessPlay = 0x08;

// The next and previous VOBU pointers of every navpack of the title VOBs: its cell's neighbours.
void LinkCellNeighbours(const std::vector<std::string>& files) {
    std::vector<std::vector<std::vector<uint8_t>>> all;
    std::vector<std::pair<uint8_t*, int64_t>> navs;  // navpack, its sector
    int64_t sector = 0;
    for (const std::string& file : files) {
        all.push_back(ReadPacks(file));
    }
    for (auto& packs : all) {
        for (auto& pack : packs) {
            if (IsNavPack(pack.data())) {
                navs.emplace_back(pack.data(), sector);
            }
            ++sector;
        }
    }
    auto vcid = [](const uint8_t* nav) {
        return ReadBE16(nav, pack::kDsiVobId) << 8 | nav[pack::kDsiCellId];
    };
    for (size_t i = 0; i < navs.size(); ++i) {
        uint32_t next = pack::kSearchEndOfCell;
        uint32_t prev = pack::kSearchEndOfCell;
        for (size_t k = i + 1; k < navs.size() && next == pack::kSearchEndOfCell; ++k) {
            next = vcid(navs[k].first) == vcid(navs[i].first)
                       ? uint32_t(navs[k].second - navs[i].second)
                       : next;
        }
        for (size_t k = i; k-- > 0 && prev == pack::kSearchEndOfCell;) {
            prev = vcid(navs[k].first) == vcid(navs[i].first)
                       ? uint32_t(navs[i].second - navs[k].second)
                       : prev;
        }
        WriteBE32(navs[i].first, pack::kDsiSearch + 4 * pack::kSearchNextVobu, next);
        WriteBE32(navs[i].first, pack::kDsiSearch + 4 * (pack::kSearchNextVobu + 1), prev);
    }
    for (size_t f = 0; f < files.size(); ++f) {
        std::vector<uint8_t> bytes;
        for (const auto& pack : all[f]) {
            bytes.insert(bytes.end(), pack.begin(), pack.end());
        }
        WriteBytes(files[f], bytes);
    }
}

// A cell of the block: its first ILVU's first VOBU to its last ILVU's last, each ILVU a piece.
CellSpec BlockCell(uint16_t vobId, const std::vector<std::vector<int64_t>>& ilvus,
                   int32_t dataPacks, std::vector<CAdtEntry>& pieces) {
    CellSpec cell = Cell(vobId, 1, uint32_t(ilvus.front().front()), uint32_t(ilvus.back().back()),
                         uint32_t(ilvus.back().back() + dataPacks));
    cell.firstIlvuEnd = uint32_t(ilvus.front().back() + dataPacks);
    cell.category = ifo::kCategoryInterleaved | kSeamlessPlay;
    for (const auto& ilvu : ilvus) {
        pieces.push_back({vobId, 1, uint32_t(ilvu.front()), uint32_t(ilvu.back() + dataPacks)});
    }
    return cell;
}

// The block's cells as an angle block: first, inside, last; one cell is no block.
void MarkAngleBlock(std::vector<CellSpec>& cells, bool seamless) {
    for (size_t i = 0; i < cells.size() && cells.size() > 1; ++i) {
        const uint8_t mode = i == 0                  ? ifo::kCategoryBlockFirst
                             : i + 1 == cells.size() ? ifo::kCategoryBlockLast
                                                     : ifo::kCategoryBlockModeHighBit;
        cells[i].category |=
            mode | ifo::kCategoryAngleBlockBit | (seamless ? ifo::kCategorySeamlessAngle : 0);
    }
}

}  // namespace

InterleavedBlock MakeInterleavedDisc(const std::string& folder, const InterleavedDiscSpec& spec) {
    using Kind = InterleavedBlockSpec::Kind;
    fs::create_directories(folder);
    const int32_t data = spec.block.dataPacks;
    const uint16_t postVob = uint16_t(spec.block.vobIds.back() + 1);
    StreamWriter w(folder, 1, spec.packsPerFile);
    w.AddPreUnitCell(kPreUnitVob, kPreUnitCellVobus, data);
    const InterleavedBlock block = w.AddInterleavedBlock(spec.block);
    const int64_t post = w.AddVobu(postVob, 1, data);
    w.Finish();
    LinkCellNeighbours(w.Files());

    const int64_t preLast = block.navpacks[0][0][0] - 1 - data;
    VtsSpec vts;
    vts.titleCAdt = {{kPreUnitVob, 1, 0, uint32_t(preLast + data)}};
    std::vector<CellSpec> cells;
    for (size_t c = 0; c < spec.block.vobIds.size(); ++c) {
        const CellSpec cell =
            BlockCell(spec.block.vobIds[c], block.navpacks[c], data, vts.titleCAdt);
        if (int32_t(c) != spec.leftOut) {
            cells.push_back(cell);
        }
    }
    vts.titleCAdt.push_back({postVob, 1, uint32_t(post), uint32_t(post + data)});
    const CellSpec pre = Cell(kPreUnitVob, 1, 0, uint32_t(preLast), uint32_t(preLast + data));
    const CellSpec closing =
        Cell(postVob, 1, uint32_t(post), uint32_t(post), uint32_t(post + data));
    if (spec.block.kind == Kind::Branch) {
        for (const CellSpec& cell : cells) {
            vts.titlePgcs.push_back({pre, cell, closing});
        }
    } else {
        MarkAngleBlock(cells, spec.block.kind == Kind::SeamlessAngles);
        PgcSpec pgc = {pre};
        pgc.insert(pgc.end(), cells.begin(), cells.end());
        pgc.push_back(closing);
        vts.titlePgcs.push_back(pgc);
    }
    for (int64_t s = 0; s < w.PacksWritten(); s += 1 + data) {
        vts.titleAdmap.push_back(uint32_t(s));
    }
    WriteIfoPair(folder + "/VTS_01_0.IFO", BuildVtsIfo(vts));
    VmgSpec vmg;
    for (size_t t = 0; t < vts.titlePgcs.size(); ++t) {
        vmg.titles.push_back(TitleSpec{1, uint8_t(t + 1), 0});
    }
    WriteIfoPair(folder + "/VIDEO_TS.IFO", BuildVmgIfo(vmg));
    // The size fields and title start sectors as the files give them, so that the disc checks
    // clean.
    for (const char* name : {"/VTS_01_0.IFO", "/VIDEO_TS.IFO"}) {
        CIfoFile ifo(folder + name);
        ifo.UpdateSizeFields(false);
        ifo.Save(folder + name);
    }
    return block;
}

void MakeDamagedDisc(const std::string& folder, const DiscShape& shape) {
    fs::create_directories(folder);
    VmgSpec vmg;
    vmg.titles = {TitleSpec{1, 1, 0}};
    WriteIfoPair(folder + "/VIDEO_TS.IFO", BuildVmgIfo(vmg));

    {
        StreamWriter menu(folder + "/VTS_01_0.VOB");
        menu.SetVideoHeight(shape.videoHeight);
        menu.AddVobu(1, 1, 3);
        menu.AddBlank(1);
    }
    // Ten packs a file, so that the title runs over VTS_01_1..3 and the removals renumber them.
    StreamWriter titles(folder, 1, 10);
    titles.SetVideoHeight(shape.videoHeight);
    titles.AddVobu(1, 1, 4);  // 0..4, blanks 5 and 6 inside the cell
    titles.AddBlank(2);
    titles.AddVobu(1, 2, 4);  // 7..11
    titles.AddVobu(1, 3, 4);  // 12..16, blank 17
    titles.AddBlank(1);
    titles.AddVobu(2, 1, 4);  // 18..22
    titles.Finish();

    WriteIfoPair(folder + "/VTS_01_0.IFO", BuildVtsIfo(DamagedDiscTitleSet(shape)));
}

VtsSpec DamagedDiscTitleSet(const DiscShape& shape) {
    PgcSpec all = {Cell(1, 1, 0, 0, 6), Cell(1, 2, 7, 7, 11), Cell(1, 3, 12, 12, 17),
                   Cell(2, 1, 18, 18, 22)};
    VtsSpec vts;
    vts.titleCAdt = CAdtFromPgcs({all});
    vts.titleAdmap = {0, 7, 12, 18};
    all.erase(all.begin() + 2);  // cell 1/3 is played by nothing any more
    vts.titlePgcs = {all};
    if (shape.cellLessPgc) {
        vts.titlePgcs.push_back({});
    }
    vts.menuUnits = {{{Cell(1, 1, 0, 0, 4)}}};
    vts.menuCAdt = CAdtFromPgcs({{Cell(1, 1, 0, 0, 4)}});
    vts.menuAdmap = {0};
    return vts;
}

}  // namespace dorvex::testkit
