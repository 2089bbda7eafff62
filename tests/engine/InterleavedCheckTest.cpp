// The checker on title sets with an interleaved block: an intact one checks clean (its cells'
// pieces, next VOBU pointers across the other angles' ILVUs, ILVU and angle fields), and each
// spoilt field or table is a finding that names it. The plan counts the ILVU and angle fields a
// run would change.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "engine/check/VerifyFolder.h"
#include "engine/plan/DryRun.h"
#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {
namespace {

namespace fs = std::filesystem;
using Kind = InterleavedBlockSpec::Kind;

constexpr int32_t kDataPacks = 4;

class InterleavedCheck : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        InterleavedDiscSpec spec;
        spec.block.kind = Kind::SeamlessAngles;
        spec.block.vobIds = {2, 3};
        spec.block.ilvus = 3;
        spec.block.vobusPerIlvu = 2;
        spec.block.dataPacks = kDataPacks;
        m_Block = MakeInterleavedDisc(m_Disc, spec);
    }
    // Changes the 32-bit field at `offset` of the navpack at `sector` by `delta`.
    void AddToNavpack(int64_t sector, int32_t offset, int64_t delta, int32_t width = 4) {
        std::vector<uint8_t> bytes = ReadBytes(VobPath(m_Disc, 1, 1));
        uint8_t* nav = bytes.data() + sector * kPack;
        if (width == 4) {
            WriteBE32(nav, offset, static_cast<uint32_t>(ReadBE32(nav, offset) + delta));
        } else {
            WriteBE16(nav, offset, static_cast<uint32_t>(ReadBE16(nav, offset) + delta));
        }
        WriteBytes(VobPath(m_Disc, 1, 1), bytes);
    }
    void PatchIfo(const std::function<void(CIfoFile&)>& patch) {
        const std::string path = m_Disc + "/VTS_01_0.IFO";
        CIfoFile ifo(path);
        ASSERT_TRUE(ifo.m_bLoaded);
        patch(ifo);
        ASSERT_EQ(ifo.Save(path), 0);
    }
    int64_t Nav(int32_t cell, int32_t ilvu, int32_t vobu) const {
        return m_Block.navpacks[cell][ilvu][vobu];
    }

    const std::string m_Disc = m_Dir + "/disc";
    InterleavedBlock m_Block;
};

std::vector<VerifyFinding> Findings(const std::string& folder) {
    std::vector<VerifyFinding> all;
    const CVerifyReport report = VerifyFolder(folder);
    for (const VerifyGroup& group : report.Groups()) {
        all.insert(all.end(), group.findings.begin(), group.findings.end());
    }
    return all;
}

TEST_F(InterleavedCheck, AnIntactBlockChecksClean) {
    for (const VerifyFinding& f : Findings(m_Disc)) {
        ADD_FAILURE() << f.kind << ": " << f.message;
    }
}

struct Spoil {
    const char* what;
    const char* kind;
    const char* says;  // in the finding's message
    std::function<void()> apply;
};

TEST_F(InterleavedCheck, EachSpoiltFieldIsAFindingThatNamesIt) {
    const int32_t angle2 = pack::kDsiSmlAngle + pack::kSmlAngleEntrySize;
    const Spoil spoils[] = {
        {"an angle's next ILVU", finding::kIlvuField, "SML_AGLI[2] address",
         [&] { AddToNavpack(Nav(0, 0, 0), angle2, 1); }},
        {"the size of the cell's next ILVU", finding::kIlvuField, "NT_ILVU_SZ",
         [&] { AddToNavpack(Nav(1, 1, 1), pack::kDsiNextIlvuSize, -1, 2); }},
        {"the end of an ILVU", finding::kIlvuField, "ILVU_EA",
         [&] { AddToNavpack(Nav(1, 2, 0), pack::kDsiIlvuEnd, 1); }},
        {"a pre-unit's category", finding::kIlvuField, "ILVU category",
         [&] { AddToNavpack(1 + kDataPacks, pack::kDsiIlvuCategory, -pack::kIlvuPreUnit, 2); }},
        {"a non-seamless angle in a seamless block", finding::kIlvuField, "NSML_AGLI[1]",
         [&] { AddToNavpack(Nav(0, 1, 0), pack::kPciNsmlAngle, 5); }},
        {"a next VOBU pointer to the other angle's ILVU", finding::kSearchPointer,
         "next VOBU pointer misses",
         [&] {
             AddToNavpack(Nav(0, 0, 1), pack::kDsiSearch + 4 * pack::kSearchNextVobu,
                          Nav(1, 0, 0) - Nav(0, 1, 0));
         }},
        {"two ILVUs in one cell address table entry", finding::kCellPieces,
         "holds a navpack of another cell",
         [&] {
             PatchIfo([&](CIfoFile& ifo) {
                 uint8_t* entry = ifo.GetTable(IfoVtsCAdt) + ifo::kTableEntries +
                                  ifo::kCAdtEntrySize;  // the first piece of VOB ID 2
                 WriteBE32(entry, ifo::kCAdtLastSector, uint32_t(Nav(0, 1, 1) + kDataPacks));
             });
         }},
        {"a cell's first ILVU end", finding::kCellPieces, "first ILVU end",
         [&] {
             PatchIfo([](CIfoFile& ifo) {
                 AddBE32(ifo.GetCellPlayback(0, 1, 2), ifo::kCellFirstIlvuEnd, 1);
             });
         }},
    };
    const Tree intact = ReadTree(m_Disc);
    for (const Spoil& s : spoils) {
        SCOPED_TRACE(s.what);
        fs::remove_all(m_Disc);
        fs::create_directories(m_Disc);
        for (const auto& [name, bytes] : intact) {
            WriteBytes(m_Disc + "/" + name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        }
        s.apply();
        bool named = false;
        for (const VerifyFinding& f : Findings(m_Disc)) {
            named = named || (f.kind == s.kind && f.message.find(s.says) != std::string::npos);
        }
        EXPECT_TRUE(named);
    }
}

// What plan counts under ilvu-angle is what the run then changes in those fields.
TEST_F(InterleavedCheck, ThePlanCountsTheIlvuAndAngleFieldsTheRunChanges) {
    std::vector<uint8_t> bytes = ReadBytes(VobPath(m_Disc, 1, 1));
    std::fill_n(bytes.begin() + (Nav(1, 0, 1) + 2) * kPack, kPack, uint8_t{0});
    WriteBytes(VobPath(m_Disc, 1, 1), bytes);
    const std::vector<std::vector<uint8_t>> before = ReadPacks(VobPath(m_Disc, 1, 1));

    CPlanningCleaner planner;
    ASSERT_EQ(planner.Open(VobPath(m_Disc, 1, 1)), 0);
    planner.m_RemoveUnrefed = 1;
    const PlanResult plan = planner.Plan(false);
    ASSERT_EQ(plan.steps.size(), 1u);
    const int64_t planned =
        plan.steps[0].fieldCounts[static_cast<int32_t>(navpack::Field::IlvuAngle)];

    m_Engine.m_RemoveUnrefed = 1;
    ASSERT_EQ(m_Engine.Open(VobPath(m_Disc, 1, 1)), 0);
    m_Engine.ProcessVts();
    std::vector<std::vector<uint8_t>> kept;
    for (const auto& pack : before) {
        if (IsNavPack(pack.data())) {
            kept.push_back(pack);
        }
    }
    int64_t changed = 0;
    size_t k = 0;
    for (const auto& pack : ReadPacks(VobPath(m_Disc, 1, 1))) {
        if (IsNavPack(pack.data())) {
            changed += ReadNav(pack.data()).ilvu != ReadNav(kept[k++].data()).ilvu ? 1 : 0;
        }
    }
    EXPECT_GT(changed, 0);
    EXPECT_EQ(planned, changed);
}

}  // namespace
}  // namespace dorvex::testkit
