// dorvex-cli check and plan, run as child processes on a synthetic disc damaged one way at a
// time: check names the damage by its kind (JSON read back through Python's json module), plan
// reports what clean then really does, and check passes on the result.
#include <cstdio>
#include <regex>
#include <set>

#include "CliHarness.h"
#include "common/IfoBuilder.h"
#include "common/StreamBuilder.h"
#include "engine/PackLayout.h"
#include "engine/plan/IfoChanges.h"
#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Paths.h"

namespace dorvex::clitest {
namespace {

using testkit::ReadBytes;
using testkit::WriteBytes;

int64_t Number(const std::map<std::string, std::string>& json, const std::string& key) {
    auto it = json.find(key);
    return it == json.end() ? -1 : std::stoll(it->second);
}

// Every navpack of the title VOBs, in stream order.
std::vector<std::vector<uint8_t>> TitleNavpacks(const std::string& folder) {
    std::vector<std::vector<uint8_t>> navs;
    for (int part = 1; part <= 9; ++part) {
        const std::string vob = testkit::VobPath(folder, 1, part);
        if (!fs::exists(vob)) {
            continue;
        }
        for (auto& pack : testkit::ReadPacks(vob)) {
            if (testkit::IsNavPack(pack.data())) {
                navs.push_back(std::move(pack));
            }
        }
    }
    return navs;
}

// Rewrites an IFO (and its BUP) through a function of its image.
template <typename F>
void PatchIfo(const std::string& path, F&& patch) {
    CIfoFile ifo(path);
    ASSERT_TRUE(ifo.m_bLoaded);
    patch(ifo);
    std::vector<uint8_t> image(ifo.Data(), ifo.Data() + ifo.ImageSize());

    WriteBytes(path, image);
    WriteBytes(ReplaceExt(path, ".BUP"), image);
}

struct Damage {
    const char* name;
    const char* kind;  // the finding check must report
    void (*apply)(const std::string& folder);
};

const Damage kDamages[] = {
    {"BlankPack", "blank-pack",
     [](const std::string& folder) {
         auto bytes = ReadBytes(folder + "/VTS_01_1.VOB");
         std::fill(bytes.begin() + 2 * testkit::kPack, bytes.begin() + 3 * testkit::kPack, 0);
         WriteBytes(folder + "/VTS_01_1.VOB", bytes);
     }},
    {"NavpackLba", "navpack-lba",
     [](const std::string& folder) {
         auto bytes = ReadBytes(folder + "/VTS_01_1.VOB");
         AddBE32(bytes.data(), pack::kPciNavLba, 1000);
         AddBE32(bytes.data(), pack::kDsiNavLba, 1000);
         WriteBytes(folder + "/VTS_01_1.VOB", bytes);
     }},
    {"UnreferencedCell", "unreferenced-cell",
     [](const std::string& folder) {
         PatchIfo(folder + "/VTS_01_0.IFO", [](CIfoFile& ifo) {
             uint8_t* pgc = ifo.GetPgc(0, 1);
             --pgc[ifo::kPgcCellCount];
             --pgc[ifo::kPgcProgramCount];
         });
     }},
    {"PgcSectors", "cell-not-navpack",
     [](const std::string& folder) {
         PatchIfo(folder + "/VTS_01_0.IFO", [](CIfoFile& ifo) {
             AddBE32(ifo.GetCellPlayback(0, 1, 2), ifo::kCellFirstVobuStart, -1);
         });
     }},
    {"VobGap", "vob-numbering",
     [](const std::string& folder) {
         fs::rename(folder + "/VTS_01_2.VOB", folder + "/VTS_01_4.VOB");
     }},
    {"BupDiffers", "bup-differs",
     [](const std::string& folder) {
         auto bytes = ReadBytes(folder + "/VTS_01_0.BUP");
         bytes[ifo::kHeaderSize - 1] ^= 0x55;
         WriteBytes(folder + "/VTS_01_0.BUP", bytes);
     }},
};

class CliDisc : public CliHarness {
  protected:
    std::string Disc() const { return Path("disc/VIDEO_TS"); }

    // The damaged synthetic disc cleaned whole, its navpacks' search pointers set as an
    // authoring tool sets them for cells of one VOBU each: a disc that check passes.
    void MakeHealthyDisc() {
        MakeDamagedDisc(Disc());
        ASSERT_EQ(Cli({"clean", "-q", "-u", "-f", "--log", Path("first.log"), Disc()}).status, 0);
        fs::remove_all(Disc() + "/DorvexBackup");
        for (const auto& entry : fs::directory_iterator(Disc())) {
            if (entry.path().extension() != ".VOB") {
                continue;
            }
            auto bytes = ReadBytes(entry.path().string());
            for (size_t at = 0; at + testkit::kPack <= bytes.size(); at += testkit::kPack) {
                if (testkit::IsNavPack(bytes.data() + at)) {
                    for (int32_t k = 0; k < pack::kSearchCount; ++k) {
                        WriteBE32(bytes.data() + at, pack::kDsiSearch + 4 * k,
                                  pack::kSearchEndOfCell);
                    }
                }
            }
            WriteBytes(entry.path().string(), bytes);
        }
    }

    std::map<std::string, std::string> CheckJson(int expectedStatus) {
        ChildResult result = Cli({"check", "--json", Disc()});
        EXPECT_EQ(result.status, expectedStatus) << result.out << result.err;
        WriteText(Path("check.json"), result.out);
        return ParseJson(Path("check.json"));
    }
};

class CliCheckPlan : public CliDisc, public ::testing::WithParamInterface<Damage> {};

TEST_F(CliCheckPlan, AHealthyDiscPassesAndCheckWritesNothing) {
    MakeHealthyDisc();
    const Tree before = ReadTree(Path("disc"));
    ChildResult readable = Cli({"check", Disc() + "/VTS_01_1.VOB"});
    EXPECT_EQ(readable.status, 0) << readable.out;
    EXPECT_NE(readable.out.find("VTS_01: no findings\n"), std::string::npos) << readable.out;
    const auto json = CheckJson(0);
    EXPECT_EQ(json.at("schema"), "1");
    EXPECT_EQ(json.at("command"), "check");
    EXPECT_EQ(json.at("total"), "0");
    EXPECT_EQ(json.at("titleSets#"), "2");
    EXPECT_EQ(json.at("titleSets[1].name"), "VTS_01");
    EXPECT_TRUE(ReadTree(Path("disc")) == before);

    ChildResult missing = Cli({"check", Path("nowhere")});
    EXPECT_EQ(missing.status, 2);
    fs::create_directories(Path("empty"));
    EXPECT_EQ(Cli({"check", Path("empty")}).status, 2);
}

TEST_P(CliCheckPlan, CheckFindsTheDamagePlanAgreesWithCleanAndTheResultPasses) {
    const Damage& damage = GetParam();
    MakeHealthyDisc();
    damage.apply(Disc());
    fs::create_directories(Path("input"));
    fs::copy(Disc(), Path("input/VIDEO_TS"), fs::copy_options::recursive);

    const auto found = CheckJson(1);
    EXPECT_GE(Number(found, std::string("counts.") + damage.kind), 1)
        << ReadText(Path("check.json"));
    bool located = false;
    for (int i = 0; i < Number(found, "titleSets[1].findings#"); ++i) {
        const std::string at = "titleSets[1].findings[" + std::to_string(i) + "]";
        if (found.at(at + ".kind") == damage.kind) {
            located = !found.at(at + ".file").empty() && !found.at(at + ".message").empty();
        }
    }
    EXPECT_TRUE(located) << ReadText(Path("check.json"));

    // The plan changes nothing on disk.
    const Tree damaged = ReadTree(Path("disc"));
    ChildResult planned = Cli({"plan", "-u", "--json", Disc()});
    ASSERT_EQ(planned.status, 0) << planned.err;
    EXPECT_TRUE(ReadTree(Path("disc")) == damaged);
    WriteText(Path("plan.json"), planned.out);
    const auto plan = ParseJson(Path("plan.json"));
    EXPECT_EQ(plan.at("schema"), "1");
    EXPECT_EQ(plan.at("command"), "plan");
    EXPECT_EQ(plan.at("steps#"), "1");

    ChildResult cleaned =
        Cli({"clean", "-u", "-q", "--log", Path("clean.log"), Disc() + "/VTS_01_1.VOB"});
    ASSERT_EQ(cleaned.status, 0) << cleaned.err;
    const std::string log = ReadText(Path("clean.log"));

    // Packs removed and blank packs, as the run counted and logged them.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, std::regex("(\\d+) packs removed")));
    EXPECT_EQ(Number(plan, "steps[0].packs.removed"), std::stoll(m[1]));
    int64_t blanks = 0;
    for (const std::string& line : SplitLines(log)) {
        blanks += line.rfind("Skipping blank pack", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(Number(plan, "steps[0].blankPacks.removed"), blanks);

    // Cells dropped and renumbered.
    std::set<std::string> dropped, renumbered, plannedDrops, plannedRenumbers;
    for (const std::string& line : SplitLines(log)) {
        if (std::regex_match(line, m, std::regex("VCID (\\d+/\\d+) is unreferenced\\.\\.\\."))) {
            dropped.insert(m[1]);
        } else if (std::regex_match(line, m, std::regex("Remapping (\\d+/\\d+) to (\\d+/\\d+)"))) {
            renumbered.insert(m[1].str() + ">" + m[2].str());
        }
    }
    for (int i = 0; i < Number(plan, "steps[0].cells#"); ++i) {
        const std::string at = "steps[0].cells[" + std::to_string(i) + "]";
        const std::string old = plan.at(at + ".vobId") + "/" + plan.at(at + ".cellId");
        if (plan.at(at + ".action") == "drop") {
            plannedDrops.insert(old);
        } else if (plan.at(at + ".action") == "renumber") {
            plannedRenumbers.insert(old + ">" + plan.at(at + ".newVobId") + "/" +
                                    plan.at(at + ".newCellId"));
        }
    }
    EXPECT_EQ(plannedDrops, dropped);
    EXPECT_EQ(plannedRenumbers, renumbered);

    // Files renamed and removed.
    std::set<std::string> renames, plannedRenames;
    for (const std::string& line : SplitLines(log)) {
        if (std::regex_match(line, m, std::regex("Renaming (\\S+) to (\\S+)"))) {
            renames.insert(m[1].str() + ">" + m[2].str());
        }
    }
    for (int i = 0; i < Number(plan, "files#"); ++i) {
        const std::string at = "files[" + std::to_string(i) + "]";
        if (plan.at(at + ".action") == "rename") {
            plannedRenames.insert(GetBaseName(plan.at(at + ".path")) + ">" +
                                  GetBaseName(plan.at(at + ".to")));
        }
    }
    EXPECT_EQ(plannedRenames, renames);

    // Navpacks changed: the kept ones paired in order, the input's against the result's.
    const auto before = TitleNavpacks(Path("input/VIDEO_TS"));
    const auto after = TitleNavpacks(Disc());
    std::vector<std::vector<uint8_t>> kept;
    for (const auto& nav : before) {
        const std::string vcid = std::to_string(ReadBE16(nav.data(), pack::kDsiVobId)) + "/" +
                                 std::to_string(nav[pack::kDsiCellId]);
        if (dropped.count(vcid) == 0) {
            kept.push_back(nav);
        }
    }
    ASSERT_EQ(kept.size(), after.size());
    int64_t changed = 0;
    for (size_t i = 0; i < kept.size(); ++i) {
        changed += kept[i] != after[i] ? 1 : 0;
    }
    EXPECT_EQ(Number(plan, "steps[0].navpacks.changed"), changed);
    EXPECT_EQ(Number(plan, "steps[0].navpacks.dropped"),
              static_cast<int64_t>(before.size() - kept.size()));

    // IFO fields and tables: the plan's lists against the files clean wrote.
    for (int i = 0; i < Number(plan, "ifo#"); ++i) {
        const std::string at = "ifo[" + std::to_string(i) + "]";
        const std::string file = plan.at(at + ".file");
        std::vector<std::string> planned;
        for (int c = 0; c < Number(plan, at + ".changes#"); ++c) {
            planned.push_back(plan.at(at + ".changes[" + std::to_string(c) + "]"));
        }
        EXPECT_EQ(planned,
                  IfoChanges(ReadBytes(Path("input/VIDEO_TS/" + file)),
                             ReadBytes(Disc() + "/" + file), file.rfind("VIDEO_TS", 0) == 0))
            << file;
    }
    EXPECT_GE(Number(plan, "ifo#"), 2);

    fs::remove_all(Disc() + "/DorvexBackup");
    const auto clean = CheckJson(0);
    EXPECT_EQ(clean.at("total"), "0") << ReadText(Path("check.json"));
}

INSTANTIATE_TEST_SUITE_P(Damages, CliCheckPlan, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(CliCheckPlan, PlanOfAFullDvdRunLeavesEveryFileAsItWas) {
    MakeDamagedDisc(Disc());
    const Tree before = ReadTree(Path("disc"));
    ChildResult planned = Cli({"plan", "-u", "-f", Disc()});
    EXPECT_EQ(planned.status, 0) << planned.err;
    EXPECT_TRUE(ReadTree(Path("disc")) == before);
    EXPECT_FALSE(fs::exists(Disc() + "/DorvexBackup"));
    EXPECT_NE(planned.out.find("VTS_01_0.VOB (menu)"), std::string::npos) << planned.out;
    EXPECT_NE(planned.out.find("cell 1/3 dropped"), std::string::npos) << planned.out;
    EXPECT_NE(planned.out.find("nothing was changed"), std::string::npos) << planned.out;
}

}  // namespace
}  // namespace dorvex::clitest

namespace dorvex::clitest {
namespace {

// Discs as other tools leave them: a partial copy, a video manager that libdvdread refuses, a
// video manager padded by its authoring tool. check names each once, with a place, and plan -f
// says about a missing VOB what check says.
struct OtherDisc {
    const char* name;
    void (*apply)(const std::string& folder);
    int status;              // of check
    int findings;            // how many, all in all
    const char* kind;        // a finding check reports, or the note when status is 0
    const char* file;        // where
    const char* stream;      // the finding's stream, "" for none
    const char* missingVob;  // what plan -f lists as missing and left unchanged, "" for nothing
};

void RemoveTitleVobs(const std::string& folder) {
    for (int part = 1; part <= 9; ++part) {
        fs::remove(testkit::VobPath(folder, 1, part));
    }
}

void PadVideoManager(const std::string& folder, bool titlesToo) {
    PatchIfo(folder + "/VIDEO_TS.IFO", [titlesToo](CIfoFile& vmg) {
        AddBE32(vmg.Data(), ifo::kLastSectorOfSet, 26);
        uint8_t* titles = vmg.GetTable(IfoTtSrpt);
        for (int t = 0; titlesToo && t < ReadBE16(titles, ifo::kTableCount); ++t) {
            AddBE32(titles,
                    ifo::kTableEntries + t * ifo::kTtSrptEntrySize + ifo::kTtSrptStartSector, 26);
        }
    });
}

const OtherDisc kOtherDiscs[] = {
    {"TitleVobsMissing", RemoveTitleVobs, 1, 1, "vob-missing", "VTS_01_1.VOB", "VTS_01 titles",
     "VTS_01_1.VOB"},
    {"MenuVobMissing", [](const std::string& f) { fs::remove(f + "/VTS_01_0.VOB"); }, 1, 1,
     "vob-missing", "VTS_01_0.VOB", "VTS_01 menu", "VTS_01_0.VOB"},
    {"VideoManagerAlone",
     [](const std::string& f) {
         RemoveTitleVobs(f);
         for (const char* name : {"VTS_01_0.VOB", "VTS_01_0.IFO", "VTS_01_0.BUP"}) {
             fs::remove(f + "/" + name);
         }
     },
     1, 1, "ifo-damaged", "VTS_01_0.IFO", "", ""},
    {"NoTitleSet",
     [](const std::string& f) {
         PatchIfo(f + "/VIDEO_TS.IFO", [](CIfoFile& vmg) { vmg.TrimTitleSets(0); });
     },
     1, 4, "libdvdread-refuses", "VIDEO_TS.IFO", "", ""},
    {"PaddedVideoManager", [](const std::string& f) { PadVideoManager(f, true); }, 0, 0,
     "padded-video-manager", "VIDEO_TS.IFO", "", ""},
    {"PaddedLastSectorOnly", [](const std::string& f) { PadVideoManager(f, false); }, 1, 1,
     "size-field", "VIDEO_TS.IFO", "", ""},
};

class CliOtherDisc : public CliDisc, public ::testing::WithParamInterface<OtherDisc> {};

TEST_P(CliOtherDisc, CheckNamesItOnceAndPlanSaysTheSame) {
    const OtherDisc& disc = GetParam();
    MakeHealthyDisc();
    disc.apply(Disc());

    const auto found = CheckJson(disc.status);
    const std::string kindsOf = ReadText(Path("check.json"));
    EXPECT_EQ(Number(found, "total"), disc.findings) << kindsOf;
    // Every finding has a place; the expected one is among them.
    std::string at;
    const char* list = disc.status == 0 ? ".notes" : ".findings";
    for (int g = 0; g < Number(found, "titleSets#"); ++g) {
        const std::string group = "titleSets[" + std::to_string(g) + "]" + list;
        for (int i = 0; i < Number(found, group + "#"); ++i) {
            const std::string item = group + "[" + std::to_string(i) + "]";
            EXPECT_FALSE(found.at(item + ".file").empty()) << kindsOf;
            if (found.at(item + ".kind") == disc.kind && at.empty()) {
                at = item;
            }
        }
    }
    ASSERT_FALSE(at.empty()) << kindsOf;
    EXPECT_EQ(found.at(at + ".kind"), disc.kind) << kindsOf;
    EXPECT_EQ(found.at(at + ".file"), disc.file) << kindsOf;
    EXPECT_EQ(found.at(at + ".stream"), *disc.stream ? disc.stream : "null") << kindsOf;
    if (*disc.missingVob == '\0') {
        return;
    }

    ChildResult planned = Cli({"plan", "-u", "-f", "--json", Disc()});
    ASSERT_EQ(planned.status, 0) << planned.err;
    WriteText(Path("plan.json"), planned.out);
    const auto plan = ParseJson(Path("plan.json"));
    // The video manager's menu, without tables, is updated as ever; the domain check names is
    // kept.
    std::vector<std::string> keptVobs;
    int64_t sectors = -1;
    for (int i = 0; i < Number(plan, "missingVobs#"); ++i) {
        const std::string item = "missingVobs[" + std::to_string(i) + "]";
        if (plan.at(item + ".action") == "keep") {
            keptVobs.push_back(GetFileName(plan.at(item + ".vob")));
            sectors = Number(plan, item + ".describedSectors");
        }
    }
    EXPECT_EQ(keptVobs, std::vector<std::string>{disc.missingVob}) << planned.out;
    EXPECT_EQ(found.at(at + ".message"), std::string(disc.missingVob) +
                                             " is missing; the IFO describes " +
                                             std::to_string(sectors) + " sectors");

    // The run does what the plan says: the domain's tables stay as they are, and check says
    // the same afterwards. Pruned, they are emptied and nothing is missing any more.
    const bool menu = std::string(disc.stream).find("menu") != std::string::npos;
    const int32_t cadt = menu ? ifo::kMenuCAdt : ifo::kVtsCAdt;
    const int32_t admap = menu ? ifo::kMenuVobuAdmap : ifo::kVtsVobuAdmap;
    const auto original = ReadBytes(Disc() + "/VTS_01_0.IFO");
    ASSERT_FALSE(testkit::ReadCAdt(original, cadt).empty());
    ASSERT_EQ(Cli({"clean", "-u", "-f", "-q", "--log", Path("clean.log"), Disc()}).status, 0);
    fs::remove_all(Disc() + "/DorvexBackup");
    const auto kept = ReadBytes(Disc() + "/VTS_01_0.IFO");
    EXPECT_EQ(testkit::ReadCAdt(kept, cadt), testkit::ReadCAdt(original, cadt));
    EXPECT_EQ(testkit::ReadAdmap(kept, admap), testkit::ReadAdmap(original, admap));
    const auto after = CheckJson(1);
    EXPECT_EQ(after.at("total"), "1") << ReadText(Path("check.json"));
    EXPECT_EQ(after.at("counts.vob-missing"), "1") << ReadText(Path("check.json"));

    ChildResult pruned = Cli(
        {"clean", "-u", "-f", "-q", "--prune-missing-vobs", "--log", Path("prune.log"), Disc()});
    ASSERT_EQ(pruned.status, 0) << pruned.err;
    fs::remove_all(Disc() + "/DorvexBackup");
    const auto emptied = ReadBytes(Disc() + "/VTS_01_0.IFO");
    EXPECT_TRUE(testkit::ReadCAdt(emptied, cadt).empty());
    EXPECT_TRUE(testkit::ReadAdmap(emptied, admap).empty());
    ChildResult checked = Cli({"check", "--json", Disc()});
    WriteText(Path("check.json"), checked.out);
    EXPECT_EQ(Number(ParseJson(Path("check.json")), "counts.vob-missing"), -1) << checked.out;
}

INSTANTIATE_TEST_SUITE_P(Discs, CliOtherDisc, ::testing::ValuesIn(kOtherDiscs),
                         [](const ::testing::TestParamInfo<OtherDisc>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace dorvex::clitest
