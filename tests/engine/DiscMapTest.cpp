// The map of a title set, from the checker and from a plan, on the damaged and the interleaved
// fixtures: both read the same stream, so their cells, blank packs and files must agree with
// each other and with the findings and figures of the report they come with. Then the merging
// that keeps a 9 GB title set as cheap to draw as a menu, and the SVG's escaping.
#include <gtest/gtest.h>

#include <chrono>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "engine/check/VerifyFolder.h"
#include "engine/map/MapScale.h"
#include "engine/map/MapSvg.h"
#include "engine/plan/DryRun.h"

namespace dorvex::testkit {
namespace {

using map::DomainMap;
using map::Player;

const DomainMap* FindDomain(const std::vector<DomainMap>& maps, const std::string& name) {
    for (const DomainMap& domain : maps) {
        if (domain.name == name) {
            return &domain;
        }
    }
    return nullptr;
}

const VerifyGroup& Group(const CVerifyReport& report, const std::string& name) {
    for (const VerifyGroup& group : report.Groups()) {
        if (group.name == name) {
            return group;
        }
    }
    throw std::runtime_error("no group " + name);
}

PlanResult PlanOf(const std::string& vob, bool removeUnreferenced) {
    CPlanningCleaner planner;
    EXPECT_EQ(planner.Open(vob), 0);
    planner.m_RemoveUnrefed = removeUnreferenced ? 1 : 0;
    return planner.Plan(false);
}

// The blank packs outside the cells a run drops: a dropped cell goes whole, and the pass tells of
// the blank packs it meets elsewhere.
std::vector<map::SectorRun> BlankOutsideDropped(const DomainMap& domain, bool dropping) {
    std::vector<map::SectorRun> kept;
    for (const map::SectorRun& run : domain.blank) {
        for (int64_t s = run.first; s < run.End(); ++s) {
            const bool inDropped =
                std::any_of(domain.cells.begin(), domain.cells.end(), [&](const map::CellRun& c) {
                    return s >= c.first && s < c.End() && c.player == Player::Nobody;
                });
            if (!(dropping && inDropped)) {
                map::AppendRun(kept, s);
            }
        }
    }
    return kept;
}

// The checker's and the plan's view of one stream agree on everything both read.
void ExpectSameStream(const DomainMap& checked, const DomainMap& planned, bool dropping) {
    EXPECT_EQ(checked.sectors, planned.sectors);
    ASSERT_EQ(checked.cells.size(), planned.cells.size());
    for (size_t i = 0; i < checked.cells.size(); ++i) {
        const map::CellRun& a = checked.cells[i];
        const map::CellRun& b = planned.cells[i];
        EXPECT_EQ(
            std::tie(a.vobId, a.cellId, a.first, a.count, a.player, a.interleaved, a.angleBlock),
            std::tie(b.vobId, b.cellId, b.first, b.count, b.player, b.interleaved, b.angleBlock))
            << "cell run " << i;
    }
    const std::vector<map::SectorRun> blank = BlankOutsideDropped(checked, dropping);
    ASSERT_EQ(blank.size(), planned.blank.size());
    for (size_t i = 0; i < blank.size(); ++i) {
        EXPECT_EQ(blank[i].first, planned.blank[i].first);
        EXPECT_EQ(blank[i].count, planned.blank[i].count);
    }
    ASSERT_EQ(checked.files.size(), planned.files.size());
    for (size_t i = 0; i < checked.files.size(); ++i) {
        EXPECT_EQ(checked.files[i].name, planned.files[i].name);
        EXPECT_EQ(checked.files[i].first, planned.files[i].first);
        EXPECT_EQ(checked.files[i].sectors, planned.files[i].sectors);
    }
}

class DiscMapTest : public EngineTest {};

TEST_F(DiscMapTest, CheckMapOfTheDamagedDiscHoldsItsFindings) {
    MakeDamagedDisc(m_Dir);
    const CVerifyReport report = VerifyFolder(m_Dir);
    const VerifyGroup& group = Group(report, "VTS_01");
    const DomainMap* titles = FindDomain(group.maps, "VTS_01 titles");
    const DomainMap* menu = FindDomain(group.maps, "VTS_01 menu");
    ASSERT_NE(titles, nullptr);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(map::TotalSectors(titles->blank) + map::TotalSectors(menu->blank),
              group.counts.at(finding::kBlankPack));
    int64_t fileSectors = 0;
    for (const map::FileSpan& file : titles->files) {
        EXPECT_EQ(file.first, fileSectors) << file.name;
        fileSectors += file.sectors;
    }
    EXPECT_EQ(fileSectors, titles->sectors);
    // Cells nobody plays are those the unreferenced-cell findings name; each finding of the
    // stream outside blank packs is a mark.
    std::set<int64_t> unplayed;
    for (const map::CellRun& cell : titles->cells) {
        EXPECT_EQ(cell.player, cell.player == Player::Nobody ? Player::Nobody : Player::Titles);
        if (cell.player == Player::Nobody) {
            unplayed.insert(cell.first);
        }
    }
    std::set<int64_t> marked;
    for (const map::Mark& mark : titles->marks) {
        marked.insert(mark.sector);
    }
    std::set<int64_t> named;
    for (const VerifyFinding& f : group.findings) {
        if (f.stream == titles->name && f.kind == finding::kUnreferencedCell) {
            named.insert(f.sector);
        }
        if (f.stream == titles->name && f.kind != finding::kBlankPack) {
            EXPECT_EQ(marked.count(f.sector), 1u) << f.kind << " at " << f.sector;
        }
    }
    EXPECT_EQ(unplayed, named);
    EXPECT_FALSE(unplayed.empty());
    for (const map::CellRun& cell : menu->cells) {
        EXPECT_EQ(cell.player, Player::Menus);
    }
}

TEST_F(DiscMapTest, PlanMapAgreesWithTheCheckAndWithItsFigures) {
    MakeDamagedDisc(m_Dir);
    const CVerifyReport report = VerifyFolder(m_Dir);
    const DomainMap* checked = FindDomain(Group(report, "VTS_01").maps, "VTS_01 titles");
    ASSERT_NE(checked, nullptr);
    for (const bool removeUnreferenced : {false, true}) {
        SCOPED_TRACE(removeUnreferenced ? "-u" : "without -u");
        const PlanResult plan = PlanOf(Vob(1), removeUnreferenced);
        ASSERT_EQ(plan.steps.size(), 1u);
        const PlannedStep& step = plan.steps[0];
        const DomainMap& planned = step.map;
        ExpectSameStream(*checked, planned, removeUnreferenced);
        EXPECT_TRUE(planned.planned);
        EXPECT_EQ(planned.sectors, step.packsRead);
        EXPECT_EQ(planned.sectorsAfter, step.packsWritten);
        EXPECT_EQ(map::TotalSectors(planned.removed), step.packsRemoved);
        EXPECT_EQ(map::TotalSectors(planned.blank), step.blankRemoved + step.blankStuffed);
        int64_t after = 0;
        for (const map::FileSpan& file : planned.filesAfter) {
            after += file.sectors;
        }
        EXPECT_EQ(after, step.packsWritten);
        // What goes is exactly the blank packs and the cells the plan drops.
        std::vector<map::SectorRun> expected;
        for (const map::CellRun& cell : planned.cells) {
            for (int64_t s = cell.first; s < cell.End(); ++s) {
                const bool blank = std::any_of(
                    planned.blank.begin(), planned.blank.end(),
                    [s](const map::SectorRun& r) { return s >= r.first && s < r.End(); });
                if (removeUnreferenced && (blank || cell.player == Player::Nobody)) {
                    map::AppendRun(expected, s);
                }
            }
        }
        ASSERT_EQ(planned.removed.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(planned.removed[i].first, expected[i].first);
            EXPECT_EQ(planned.removed[i].count, expected[i].count);
        }
        for (const PlannedCell& cell : step.cells) {
            auto run = std::find_if(planned.cells.begin(), planned.cells.end(), [&](auto& r) {
                return r.vobId == cell.vobId && r.cellId == cell.cellId;
            });
            ASSERT_NE(run, planned.cells.end());
            EXPECT_EQ(run->first, cell.sector);
            EXPECT_EQ(cell.dropped, removeUnreferenced && run->player == Player::Nobody);
        }
    }
}

TEST_F(DiscMapTest, InterleavedBlockIsMappedByCheckAndPlanAlike) {
    InterleavedDiscSpec spec;
    spec.block.kind = InterleavedBlockSpec::Kind::SeamlessAngles;
    spec.block.vobIds = {2, 3};
    spec.block.ilvus = 3;
    spec.packsPerFile = 40;
    const InterleavedBlock block = MakeInterleavedDisc(m_Dir, spec);
    const CVerifyReport report = VerifyFolder(m_Dir);
    const DomainMap* checked = FindDomain(Group(report, "VTS_01").maps, "VTS_01 titles");
    ASSERT_NE(checked, nullptr);
    int64_t pieces = 0;
    for (const map::CellRun& cell : checked->cells) {
        const bool inBlock = cell.vobId == 2 || cell.vobId == 3;
        EXPECT_EQ(cell.interleaved, inBlock);
        EXPECT_EQ(cell.angleBlock, inBlock ? 0 : -1);
        pieces += inBlock ? 1 : 0;
    }
    EXPECT_EQ(pieces, 2 * 3);  // one run per ILVU of each angle
    EXPECT_GT(checked->files.size(), 1u);
    ExpectSameStream(*checked, PlanOf(Vob(1), true).steps.at(0).map, true);
}

// A damaged 9 GB title set: 4.4 million sectors, 20,000 cells, 50,000 runs of blank packs and a
// finding in every tenth navpack. Merged to a band, it draws in at most a few shapes a pixel.
TEST(DiscMapScale, A9GbTitleSetMergesToPixelsKeepingCounts) {
    DomainMap domain;
    domain.name = "VTS_01 titles";
    domain.sectors = 9'000'000'000 / 2048;
    std::vector<int64_t> findings;
    for (int64_t c = 0; c < 20'000; ++c) {
        map::StartCellRun(domain, uint16_t(1 + c / 200), uint8_t(1 + c % 200), c * 219);
        findings.push_back(c * 219);
    }
    for (int64_t r = 0; r < 50'000; ++r) {
        map::AppendRun(domain.blank, r * 87 + 3, 1 + r % 5);
    }
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    const auto start = Clock::now();
    map::FinishCells(domain);
    domain.marks = map::MarksOf(findings);
    const map::TitleSetMap set{"VTS_01", {domain}};
    const auto built = Clock::now();
    const std::string svg = map::TitleSetSvg(set);
    std::printf("9 GB title set: map finished in %.1f ms, SVG in %.1f ms, %zu bytes\n",
                ms(built - start), ms(Clock::now() - built), svg.size());
    EXPECT_LT(svg.size(), 200'000u);

    const map::BandScale scale{12, 936, domain.sectors};
    const std::vector<map::Block> blocks = map::MergeRuns(domain.blank, scale);
    EXPECT_LE(blocks.size(), 936u);
    int64_t items = 0;
    int64_t sectors = 0;
    for (const map::Block& b : blocks) {
        items += b.items;
        sectors += b.sectors;
        EXPECT_GE(b.width, 1.0);
    }
    EXPECT_EQ(items, 50'000);
    EXPECT_EQ(sectors, map::TotalSectors(domain.blank));
    int64_t cells = 0;
    for (const map::CellBlock& b : map::MergeCells(domain.cells, scale)) {
        cells += b.block.items;
    }
    EXPECT_EQ(cells, 20'000);
}

TEST(DiscMapSvg, ExternalTextIsEscaped) {
    DomainMap domain;
    domain.name = "VTS_01 titles";
    domain.sectors = 100;
    domain.files = {{"A<&\"b\xff.VOB", 0, 100}};
    map::StartCellRun(domain, 1, 1, 0);
    map::FinishCells(domain);
    const std::string svg = map::TitleSetSvg({"VTS_01", {domain}});
    EXPECT_NE(svg.find("A&lt;&amp;&quot;b\xEF\xBF\xBD.VOB"), std::string::npos) << svg;
    EXPECT_EQ(svg.find("A<&"), std::string::npos);
}

}  // namespace
}  // namespace dorvex::testkit
