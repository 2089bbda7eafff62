// The synthetic interleaved blocks of the stream builder against the layout rules of
// IlvuLayout: two implementations of the same rules (one laid out by index, one derived from
// the stream by time) must agree on every navpack, and the recomputer must name each field
// that differs and follow an angle whose next ILVU is gone.
#include <gtest/gtest.h>

#include <algorithm>

#include "IlvuLayout.h"
#include "common/StreamBuilder.h"
#include "common/TempDir.h"

namespace {

using namespace dorvex;
using Kind = testkit::InterleavedBlockSpec::Kind;

constexpr uint16_t kPreVob = 1;
constexpr uint16_t kPostVob = 20;

struct Built {
    ilvu::Layout layout;
    testkit::InterleavedBlock block;
    int64_t firstBlockSector = 0;
};

testkit::InterleavedBlockSpec Spec(Kind kind, int angles, int ilvus, int vobusPerIlvu) {
    testkit::InterleavedBlockSpec spec;
    spec.kind = kind;
    for (int n = 0; n < angles; ++n) {
        spec.vobIds.push_back(uint16_t(2 + n));
    }
    spec.ilvus = ilvus;
    spec.vobusPerIlvu = vobusPerIlvu;
    return spec;
}

// A cell whose last VOBUs are a pre-unit, the block, a closing cell; the layout as an IFO
// would describe it (pieces in runs: no cell address table).
Built Build(const testkit::InterleavedBlockSpec& spec) {
    testkit::TempDir dir;
    testkit::StreamWriter writer(dir.Path(), 1, 1 << 20);
    writer.AddPreUnitCell(kPreVob, 4, 2);
    Built built;
    built.firstBlockSector = writer.PacksWritten();
    built.block = writer.AddInterleavedBlock(spec);
    writer.AddVobu(kPostVob, 1, 2);
    writer.Finish();
    const std::vector<uint8_t> bytes = testkit::ReadBytes(testkit::VobPath(dir.Path(), 1, 1));
    const uint32_t sectors = uint32_t(bytes.size() / testkit::kPack);
    built.layout.navpacks = ilvu::ReadNavpacks(bytes.data(), sectors);
    built.layout.sectors = sectors;
    built.layout.played = {{kPreVob, 1}, {kPostVob, 1}};
    ilvu::AngleBlock angles{{}, spec.kind == Kind::SeamlessAngles};
    for (uint16_t vob : spec.vobIds) {
        built.layout.played.insert({vob, 1});
        built.layout.interleaved.insert({vob, 1});
        angles.angles.push_back({vob, 1});
    }
    if (spec.kind != Kind::Branch) {
        built.layout.blocks.push_back(angles);
    }
    return built;
}

ilvu::Fields AsRecomputed(const testkit::IlvuFields& f) {
    ilvu::Fields out;
    out.category = f.category;
    out.ilvuEnd = f.ilvuEnd;
    out.nextStart = f.nextIlvuStart;
    out.nextSize = f.nextIlvuSize;
    out.smlAddress = f.angleAddress;
    out.smlSize = f.angleSize;
    out.nsml = f.nonSeamlessAngle;
    return out;
}

struct BlockCase {
    const char* name;
    Kind kind;
    int angles;
    int ilvus;
    int vobusPerIlvu;
};

void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

class BuiltBlocks : public testing::TestWithParam<BlockCase> {};

TEST_P(BuiltBlocks, HoldWhatTheRecomputedLayoutGivesThem) {
    const BlockCase& c = GetParam();
    const Built built = Build(Spec(c.kind, c.angles, c.ilvus, c.vobusPerIlvu));
    EXPECT_TRUE(ilvu::CompareFields(built.layout).empty());
    const std::map<uint32_t, ilvu::Fields> expected = ilvu::ExpectedFields(built.layout);
    for (size_t a = 0; a < built.block.navpacks.size(); ++a) {
        for (size_t k = 0; k < built.block.navpacks[a].size(); ++k) {
            for (size_t j = 0; j < built.block.navpacks[a][k].size(); ++j) {
                const uint32_t sector = uint32_t(built.block.navpacks[a][k][j]);
                EXPECT_EQ(expected.at(sector), AsRecomputed(built.block.fields[a][k][j]))
                    << "angle " << a + 1 << " ILVU " << k + 1 << " VOBU " << j + 1;
            }
        }
    }
    // The pre-unit: the three VOBUs before the block, first and last marked.
    const auto& navs = built.layout.navpacks;
    EXPECT_EQ(expected.at(navs[0].sector).category, 0);
    EXPECT_EQ(expected.at(navs[1].sector).category, pack::kIlvuPreUnit | pack::kIlvuUnitStart);
    EXPECT_EQ(expected.at(navs[2].sector).category, pack::kIlvuPreUnit);
    EXPECT_EQ(expected.at(navs[3].sector).category, pack::kIlvuPreUnit | pack::kIlvuUnitEnd);
    EXPECT_EQ(expected.at(navs.back().sector), ilvu::Fields{});
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BuiltBlocks,
    testing::Values(BlockCase{"SeamlessTwoAngles", Kind::SeamlessAngles, 2, 4, 2},
                    BlockCase{"NonSeamlessNineAngles", Kind::NonSeamlessAngles, 9, 2, 1},
                    BlockCase{"NonSeamlessThreeAngles", Kind::NonSeamlessAngles, 3, 3, 2},
                    BlockCase{"Branch", Kind::Branch, 2, 3, 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct WrongField {
    const char* field;
    void (*spoil)(ilvu::Fields&);
};

TEST(IlvuLayout, NamesEachFieldThatDiffers) {
    const WrongField cases[] = {
        {"ILVU category", [](ilvu::Fields& f) { f.category ^= pack::kIlvuUnitEnd; }},
        {"ILVU_EA", [](ilvu::Fields& f) { f.ilvuEnd += 1; }},
        {"NT_ILVU_SA", [](ilvu::Fields& f) { f.nextStart = pack::kNextIlvuNone; }},
        {"NT_ILVU_SZ", [](ilvu::Fields& f) { f.nextSize -= 1; }},
        {"SML_AGLI[2] address", [](ilvu::Fields& f) { f.smlAddress[1] = f.smlAddress[0]; }},
        {"SML_AGLI[2] size", [](ilvu::Fields& f) { f.smlSize[1] = 0; }},
        {"NSML_AGLI[3]", [](ilvu::Fields& f) { f.nsml[2] = 1; }},
    };
    Built built = Build(Spec(Kind::SeamlessAngles, 2, 3, 2));
    const uint32_t sector = uint32_t(built.block.navpacks[0][0][1]);
    auto nav = std::find_if(built.layout.navpacks.begin(), built.layout.navpacks.end(),
                            [&](const ilvu::Navpack& n) { return n.sector == sector; });
    ASSERT_NE(nav, built.layout.navpacks.end());
    const ilvu::Fields good = nav->found;
    for (const WrongField& c : cases) {
        nav->found = good;
        c.spoil(nav->found);
        const std::vector<ilvu::Mismatch> found = ilvu::CompareFields(built.layout);
        ASSERT_EQ(found.size(), 1u) << c.field;
        EXPECT_EQ(found[0].field, c.field);
        EXPECT_EQ(found[0].sector, sector);
    }
}

// Leaves the navpacks of one ILVU of one cell out, as a clean that removed it whole would.
void Remove(Built& built, size_t cell, size_t ilvu) {
    const std::vector<int64_t>& gone = built.block.navpacks[cell][ilvu];
    auto& navs = built.layout.navpacks;
    navs.erase(std::remove_if(navs.begin(), navs.end(),
                              [&](const ilvu::Navpack& n) {
                                  return std::count(gone.begin(), gone.end(), n.sector) != 0;
                              }),
               navs.end());
}

TEST(IlvuLayout, AnAngleWhoseNextIlvuIsGoneGoesOnAtItsFollowingOneOrTheEnd) {
    Built built = Build(Spec(Kind::SeamlessAngles, 2, 3, 1));
    const auto& at = built.block.navpacks;
    const uint32_t first = uint32_t(at[0][0][0]);
    Remove(built, 1, 1);
    EXPECT_EQ(ilvu::ExpectedFields(built.layout).at(first).smlAddress[1], at[1][2][0] - first);
    Remove(built, 1, 2);
    EXPECT_EQ(ilvu::ExpectedFields(built.layout).at(first).smlAddress[1], pack::kAngleEnd);
    EXPECT_EQ(ilvu::ExpectedFields(built.layout).at(first).smlAddress[0], at[0][1][0] - first);

    Built nonSeamless = Build(Spec(Kind::NonSeamlessAngles, 3, 3, 1));
    const auto& vobus = nonSeamless.block.navpacks;
    const uint32_t from = uint32_t(vobus[0][0][0]);
    Remove(nonSeamless, 2, 1);
    EXPECT_EQ(ilvu::ExpectedFields(nonSeamless.layout).at(from).nsml[2], vobus[2][2][0] - from);
}

}  // namespace
