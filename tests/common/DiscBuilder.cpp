#include "common/DiscBuilder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "common/IfoBuilder.h"
#include "common/StreamBuilder.h"

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
    WriteIfoPair(folder + "/VTS_01_0.IFO", BuildVtsIfo(vts));
}

}  // namespace dorvex::testkit
