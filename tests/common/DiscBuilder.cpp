#include "common/DiscBuilder.h"

#include <filesystem>

#include "common/IfoBuilder.h"
#include "common/StreamBuilder.h"

namespace dorvex::testkit {

namespace fs = std::filesystem;

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
