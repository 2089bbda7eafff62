// Writes the seed inputs of the fuzz targets: IFO images and pack streams from the test builders,
// and, when a folder of real authored DVDs is given, their IFOs and the first packs of their VOBs.
//
//   fuzz_seeds OUT_FOLDER [FIXTURES_FOLDER]   (FIXTURES_FOLDER/{pal,ntsc}/VIDEO_TS)
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/FuzzHarness.h"
#include "common/IfoBuilder.h"
#include "common/StreamBuilder.h"
#include "common/TempDir.h"
#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

using namespace dorvex;
using namespace dorvex::testkit;

namespace {

using Bytes = std::vector<uint8_t>;

int g_Written = 0;

void Emit(const std::string& folder, const std::string& name, const Bytes& input) {
    WriteBytes(folder + "/" + name, input);
    ++g_Written;
}

// Control variants every IFO seed is written with: the plain title run, heavy removals, a full
// run over both domains with VOB files present, and made-up navpacks with scrambled tables.
std::vector<std::pair<std::string, IfoControl>> IfoVariants() {
    IfoControl plain;
    IfoControl removals;
    removals.removal = 64;
    removals.seed = 7;
    IfoControl full;
    full.flags = kIfoBothDomains | kIfoNavFromAdmap | kIfoVcidFromPgcs | kIfoVobFiles;
    full.removal = 24;
    full.extra = 0x83;
    full.seed = 99;
    IfoControl madeUp;
    madeUp.flags = kIfoScramble | kIfoMenuDomain | kIfoKeepVobIds;
    madeUp.removal = 40;
    madeUp.navpacks = 48;
    madeUp.extra = 0x05;
    madeUp.seed = 12345;
    return {{"plain", plain}, {"removals", removals}, {"full", full}, {"madeup", madeUp}};
}

void EmitIfo(const std::string& folder, const std::string& name, const Bytes& image) {
    for (const auto& [variant, control] : IfoVariants()) {
        Emit(folder, name + "-" + variant, IfoFuzzInput(control, image));
    }
}

std::vector<Bytes> BuilderVtsImages() {
    std::vector<Bytes> images;
    VtsSpec simple;
    simple.titlePgcs = {{Cell(1, 1, 0, 5, 9), Cell(1, 2, 10, 14, 19)}};
    simple.titleCAdt = CAdtFromPgcs(simple.titlePgcs);
    simple.titleAdmap = {0, 5, 10, 14};
    simple.timeMaps = {TimeMapSpec{1, {0, 5, 10, 14}}};
    images.push_back(BuildVtsIfo(simple));

    VtsSpec menus = simple;
    menus.menuUnits = {{{Cell(1, 1, 0, 0, 3)}, {Cell(2, 1, 4, 4, 7), Cell(2, 2, 8, 8, 9)}}};
    menus.menuCAdt = CAdtFromPgcs(menus.menuUnits[0]);
    menus.menuAdmap = {0, 4, 8};
    images.push_back(BuildVtsIfo(menus));

    // An angle block of interleaved cells shared by two PGCs, and a zero-length cell.
    VtsSpec angles;
    CellSpec a = Cell(1, 1, 0, 2, 5);
    CellSpec b = Cell(1, 2, 6, 8, 11);
    a.category =
        ifo::kCategoryAngleBlockBit | ifo::kCategoryBlockModeLowBit | ifo::kCategoryInterleaved;
    b.category =
        ifo::kCategoryAngleBlockBit | ifo::kCategoryBlockModeHighBit | ifo::kCategoryInterleaved;
    a.firstIlvuEnd = 2;
    b.firstIlvuEnd = 8;
    a.playbackTime = 0x00000140;
    CellSpec c = Cell(2, 1, 12, 12, 12);
    angles.titlePgcs = {{a, b, c}, {c, a}};
    angles.titleCAdt = CAdtFromPgcs(angles.titlePgcs);
    angles.titleAdmap = {0, 2, 6, 8, 12};
    angles.timeMaps = {TimeMapSpec{1, {0, 6, 12}}, TimeMapSpec{2, {0x80000000u, 2}}};
    images.push_back(BuildVtsIfo(angles));

    VtsSpec empty;
    empty.menuTables = true;
    images.push_back(BuildVtsIfo(empty));
    return images;
}

std::vector<Bytes> BuilderVmgImages() {
    std::vector<Bytes> images;
    VmgSpec two;
    two.titles = {TitleSpec{1, 1, 0}, TitleSpec{1, 2, 0}, TitleSpec{2, 1, 0}};
    two.titleSets = 2;
    two.ptlCountries = 2;
    images.push_back(BuildVmgIfo(two));

    VmgSpec menus = two;
    menus.titleSets = 5;
    menus.titles.push_back(TitleSpec{5, 1, 0});
    menus.menuUnits = {{{Cell(1, 1, 0, 0, 4)}, {Cell(1, 2, 5, 5, 9)}}};
    menus.menuCAdt = CAdtFromPgcs(menus.menuUnits[0]);
    menus.menuAdmap = {0, 5};
    menus.firstPlay = PgcSpec{};
    images.push_back(BuildVmgIfo(menus));

    VmgSpec bare;
    bare.ptlTable = false;
    bare.vtsAttributes = false;
    bare.menuTables = true;
    images.push_back(BuildVmgIfo(bare));
    return images;
}

// A cell descriptor of the VOB pass layout: VOB ID 1..4, cell ID 1..8, 1 + 3k sectors.
uint8_t CellByte(uint16_t vobId, uint8_t cellId, uint8_t k) {
    return static_cast<uint8_t>((vobId - 1) | ((cellId - 1) << 2) | (k << 5));
}

struct VobuPlan {
    uint16_t vobId;
    uint8_t cellId;
    int32_t dataPacks;
    int32_t blanksAfter = 0;
    uint16_t ilvu = 0;
};

Bytes Stream(const std::vector<VobuPlan>& vobus) {
    TempDir dir;
    const std::string path = dir / "VTS_01_1.VOB";
    {
        StreamWriter writer(path);
        for (const VobuPlan& v : vobus) {
            writer.AddVobu(v.vobId, v.cellId, v.dataPacks, v.ilvu);
            writer.AddBlank(v.blanksAfter);
        }
    }
    return ReadBytes(path);
}

void EmitVobSeeds(const std::string& folder) {
    // Two cells of one VOB ID, as the IFO describes them.
    VobControl base;
    base.layout = 2;  // one PGC of two cells
    base.cells = {CellByte(1, 1, 2), CellByte(1, 2, 2)};
    const Bytes twoCells = Stream({{1, 1, 3}, {1, 1, 2}, {1, 2, 3}, {1, 2, 2}});
    Emit(folder, "two-cells", VobFuzzInput(base, twoCells));

    VobControl unrefed = base;
    unrefed.flags = kVobRemoveUnrefed | kVobVmgIfo;
    Emit(folder, "unreferenced-cell",
         VobFuzzInput(unrefed, Stream({{1, 1, 3}, {3, 5, 2}, {3, 5, 2}, {1, 2, 4}})));

    VobControl blanks = base;
    blanks.flags = kVobRemoveUnrefed;
    Emit(folder, "blank-packs",
         VobFuzzInput(blanks, Stream({{1, 1, 3, 2}, {1, 1, 2}, {1, 2, 3, 1}, {1, 2, 1}})));

    VobControl split = base;
    split.flags = kVobSplit | kVobEmptyFile | kVobKeepVobIds;
    split.splitAt = 6;
    Emit(folder, "split-files", VobFuzzInput(split, twoCells));

    VobControl menu = base;
    menu.flags = kVobMenu;
    menu.layout = 3;  // two PGCs of two cells
    menu.cells = {CellByte(1, 1, 1), CellByte(1, 2, 1), CellByte(2, 1, 1), CellByte(2, 2, 1)};
    Emit(folder, "menu", VobFuzzInput(menu, Stream({{1, 1, 3}, {1, 2, 3}, {2, 1, 3}, {2, 2, 3}})));

    VobControl angles = base;
    angles.flags = kVobResetIlvu;
    angles.categories = 0x03;
    Emit(folder, "interleaved",
         VobFuzzInput(angles, Stream({{1, 1, 3, 0, 0x5000}, {1, 2, 3, 0, 0x5000}})));

    VobControl patched = base;
    patched.ifo = kVobPatchedIfo;
    patched.patches = 2;
    Bytes input = VobFuzzInput(patched, twoCells);
    // Two patches: the VTS_C_ADT pointer (now past the end), and a byte of the first table.
    const uint8_t patch[6] = {0, ifo::kVtsCAdt + 3, 0x40, 0x08, 0x03, 0x09};
    std::copy(patch, patch + 6, input.begin() + kVobControlBytes);
    Emit(folder, "patched-ifo", input);

    VobControl noIfo = base;
    noIfo.ifo = kVobNoIfo;
    Emit(folder, "no-ifo", VobFuzzInput(noIfo, twoCells));
}

Bytes Head(const std::string& path, size_t packs) {
    Bytes bytes = ReadBytes(path);
    bytes.resize(std::min(bytes.size(), packs * kPack));
    return bytes;
}

void EmitFixtureSeeds(const std::string& out, const std::string& fixtures) {
    for (const char* standard : {"pal", "ntsc"}) {
        const std::string folder = fixtures + "/" + standard + "/VIDEO_TS";
        if (!FileExists(folder + "/VIDEO_TS.IFO")) {
            fprintf(stderr, "fuzz_seeds: no real DVD in %s\n", folder.c_str());
            continue;
        }
        const std::string prefix = std::string("real-") + standard;
        EmitIfo(out + "/fuzz_ifo_vmg", prefix, ReadBytes(folder + "/VIDEO_TS.IFO"));
        for (int32_t set = 1; set <= 2; ++set) {
            const std::string ifo = folder + "/" + DvdFileName(set, 0, "IFO");
            if (FileExists(ifo)) {
                EmitIfo(out + "/fuzz_ifo_vts", prefix + "-vts" + std::to_string(set),
                        ReadBytes(ifo));
            }
        }
        // The first packs of a real title stream, with no IFO and with a built one.
        const std::string vob = VobPath(folder, 1, 1);
        if (FileExists(vob)) {
            VobControl none;
            none.ifo = kVobNoIfo;
            none.flags = kVobRemoveUnrefed;
            Emit(out + "/fuzz_vob_pass", prefix + "-title", VobFuzzInput(none, Head(vob, 48)));
            VobControl built;
            built.cells = {CellByte(1, 1, 7)};
            built.flags = kVobSplit;
            built.splitAt = 20;
            Emit(out + "/fuzz_vob_pass", prefix + "-title-built",
                 VobFuzzInput(built, Head(vob, 48)));
        }
        const std::string menuVob = folder + "/VTS_01_0.VOB";
        if (FileExists(menuVob)) {
            VobControl menu;
            menu.flags = kVobMenu;
            menu.cells = {CellByte(1, 1, 7)};
            Emit(out + "/fuzz_vob_pass", prefix + "-menu", VobFuzzInput(menu, Head(menuVob, 32)));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: fuzz_seeds OUT_FOLDER [FIXTURES_FOLDER]\n");
        return 2;
    }
    const std::string out = argv[1];
    for (const char* target : {"", "/fuzz_ifo_vts", "/fuzz_ifo_vmg", "/fuzz_vob_pass"}) {
        mkdir((out + target).c_str(), 0777);
    }
    const std::vector<Bytes> vts = BuilderVtsImages();
    for (size_t i = 0; i < vts.size(); ++i) {
        EmitIfo(out + "/fuzz_ifo_vts", "built" + std::to_string(i), vts[i]);
    }
    const std::vector<Bytes> vmg = BuilderVmgImages();
    for (size_t i = 0; i < vmg.size(); ++i) {
        EmitIfo(out + "/fuzz_ifo_vmg", "built" + std::to_string(i), vmg[i]);
    }
    EmitVobSeeds(out + "/fuzz_vob_pass");
    if (argc > 2) {
        EmitFixtureSeeds(out, argv[2]);
    }
    printf("fuzz_seeds: %d seeds in %s\n", g_Written, out.c_str());
    return 0;
}
