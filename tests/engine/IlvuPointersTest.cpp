// The ILVU and angle fields after a clean that removes packs. Whole runs over synthetic title
// sets with interleaved blocks (the stream builder's AddInterleavedBlock) must leave every
// navpack with the fields its new layout gives it, as the checker recomputes them; the rules
// for a single field, its sentinels and a target whose packs are all gone, on one navpack; and
// an interrupted in-place run of such a title set finished by the next one.
#include "engine/IlvuPointers.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "engine/check/VerifyFolder.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {
namespace {

namespace fs = std::filesystem;
using Kind = InterleavedBlockSpec::Kind;

// Where a blank pack goes: a data pack of VOBU `vobu` of ILVU `ilvu` of the block's cell `cell`
// (pack 1 follows the navpack); cell -1: the first VOBU of the cell before the block.
struct Blank {
    int32_t cell = -1;
    int32_t ilvu = 0;
    int32_t vobu = 0;
    int32_t pack = 1;
};

struct RunCase {
    const char* name;
    Kind kind;
    int32_t angles;
    int32_t ilvus;
    int32_t vobusPerIlvu;
    std::vector<Blank> blanks;
    int32_t leftOut = -1;
    int64_t packsPerFile = 1 << 20;
};

void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr int32_t kDataPacks = 4;

InterleavedDiscSpec DiscOf(const RunCase& c) {
    InterleavedDiscSpec spec;
    spec.block.kind = c.kind;
    for (int32_t n = 0; n < c.angles; ++n) {
        spec.block.vobIds.push_back(uint16_t(2 + n));
    }
    spec.block.ilvus = c.ilvus;
    spec.block.vobusPerIlvu = c.vobusPerIlvu;
    spec.block.dataPacks = kDataPacks;
    spec.leftOut = c.leftOut;
    spec.packsPerFile = c.packsPerFile;
    return spec;
}

// Zeroes one pack of the title stream, wherever its file lies.
void BlankSector(const std::string& folder, int64_t sector) {
    for (int32_t part = 1; fs::exists(VobPath(folder, 1, part)); ++part) {
        const std::string path = VobPath(folder, 1, part);
        std::vector<uint8_t> bytes = ReadBytes(path);
        const int64_t packs = int64_t(bytes.size()) / kPack;
        if (sector < packs) {
            std::fill_n(bytes.begin() + sector * kPack, kPack, uint8_t{0});
            WriteBytes(path, bytes);
            return;
        }
        sector -= packs;
    }
    FAIL() << "no sector " << sector;
}

void MakeCase(const std::string& folder, const RunCase& c) {
    const InterleavedBlock block = MakeInterleavedDisc(folder, DiscOf(c));
    for (const Blank& b : c.blanks) {
        const int64_t nav = b.cell < 0 ? 0 : block.navpacks[b.cell][b.ilvu][b.vobu];
        BlankSector(folder, nav + b.pack);
    }
}

// The findings about interleaved blocks: fields, pieces, and next/previous VOBU pointers.
std::vector<std::string> IlvuFindings(const std::string& folder) {
    std::vector<std::string> found;
    const CVerifyReport report = VerifyFolder(folder);
    for (const VerifyGroup& group : report.Groups()) {
        for (const VerifyFinding& f : group.findings) {
            if (f.kind == finding::kIlvuField || f.kind == finding::kCellPieces ||
                f.kind == finding::kSearchPointer || f.kind == finding::kVobuEnd) {
                found.push_back(f.kind + ": " + f.message);
            }
        }
    }
    return found;
}

class InterleavedRuns : public EngineTest, public testing::WithParamInterface<RunCase> {
  protected:
    Tree Clean(bool inPlace) {
        const std::string folder = m_Dir + (inPlace ? "/inplace" : "/backup");
        MakeCase(folder, GetParam());
        CVtsCleaner engine(m_FileSystem);
        engine.m_LogPath = m_Dir + "/Dorvex.log";
        engine.m_RemoveUnrefed = 1;
        engine.m_InPlace = inPlace ? 1 : 0;
        EXPECT_EQ(engine.Open(VobPath(folder, 1, 1)), 0);
        engine.ProcessVts();
        EXPECT_FALSE(engine.RunInterrupted()) << testing::PrintToString(CapturedSinks::Alerts());
        EXPECT_EQ(IlvuFindings(folder), std::vector<std::string>{})
            << (inPlace ? "in place" : "from backup");
        fs::remove_all(folder + "/DorvexBackup");
        return ReadTree(folder);
    }
};

TEST_P(InterleavedRuns, LeaveTheFieldsTheNewLayoutGivesInPlaceAndFromBackup) {
    Tree backup = Clean(false);
    Tree inPlace = Clean(true);
    EXPECT_TRUE(backup == inPlace);
}

// Each case moves a different set of fields: ILVU_EA of the ILVU with the blank, NT_ILVU_SA/SZ
// and SML_AGLI sizes of the navpacks that name it, SML_AGLI and NSML_AGLI addresses across it
// (forward and backward), and the angle tables after a cell left out of the block.
INSTANTIATE_TEST_SUITE_P(
    Blocks, InterleavedRuns,
    testing::Values(
        RunCase{"SeamlessBlankInsideAnIlvu", Kind::SeamlessAngles, 2, 3, 2, {{0, 1, 1, 2}}},
        RunCase{"SeamlessBlankAtTheEndOfAnIlvu", Kind::SeamlessAngles, 2, 3, 2, {{1, 1, 1, 4}}},
        RunCase{"SeamlessBlanksInEveryAngleAndBefore",
                Kind::SeamlessAngles,
                3,
                3,
                1,
                {{-1, 0, 0, 1}, {0, 0, 0, 1}, {1, 1, 0, 3}, {2, 2, 0, 2}}},
        RunCase{"SeamlessFilesSplitInsideIlvus",
                Kind::SeamlessAngles,
                2,
                4,
                2,
                {{0, 0, 1, 3}, {1, 2, 0, 1}},
                -1,
                37},
        RunCase{"NonSeamlessBackwardDestinations",
                Kind::NonSeamlessAngles,
                3,
                2,
                2,
                {{0, 0, 1, 1}, {1, 1, 0, 2}}},
        RunCase{"NonSeamlessAngleLeftOut", Kind::NonSeamlessAngles, 4, 2, 2, {{2, 0, 0, 1}}, 1},
        RunCase{"SeamlessFirstAngleLeftOut", Kind::SeamlessAngles, 3, 3, 1, {}, 0},
        RunCase{"TwoAnglesOneLeftOut", Kind::SeamlessAngles, 2, 3, 2, {{0, 1, 0, 1}}, 1},
        RunCase{"BranchCellLeftOut", Kind::Branch, 2, 3, 2, {{1, 2, 1, 1}}, 0},
        RunCase{"BlankBeforeTheBlockOnly", Kind::NonSeamlessAngles, 2, 2, 1, {{-1, 0, 0, 2}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- One navpack, one field ---

// Navpacks every 10 sectors, two cells taking turns in ILVUs of one VOBU: A at 0, 20, 40, B at
// 10, 30, 50 (to sector 59). No IFO: the tables stay in place.
class OneField : public testing::Test {
  protected:
    const std::vector<int32_t> m_Navs = {0, 10, 20, 30, 40, 50};
    const std::vector<int32_t> m_Vcids = {0x201, 0x301, 0x201, 0x301, 0x201, 0x301};
    COldStreamLayout m_Layout{m_Navs.data(), m_Vcids.data(), 6, 60};
};

enum class Field { IlvuEnd, NextIlvu, SmlAngle, NsmlAngle };

struct FieldCase {
    const char* what;
    Field field;
    int32_t nav;  // index of the navpack holding the field
    uint32_t value;
    uint16_t size;                                     // NT_ILVU_SZ, SML_AGLI size
    std::vector<std::pair<int32_t, int32_t>> removed;  // first and last sector
    uint32_t expected;
    uint16_t expectedSize;
};

int32_t At(Field field) {
    switch (field) {
        case Field::IlvuEnd:
            return pack::kDsiIlvuEnd;
        case Field::NextIlvu:
            return pack::kDsiNextIlvuStart;
        case Field::SmlAngle:
            return pack::kDsiSmlAngle + pack::kSmlAngleEntrySize;  // angle 2
        case Field::NsmlAngle:
            return pack::kPciNsmlAngle;
    }
    return 0;
}

int32_t SizeAt(Field field) {
    return field == Field::NextIlvu
               ? pack::kDsiNextIlvuSize
               : pack::kDsiSmlAngle + pack::kSmlAngleEntrySize + pack::kSmlAngleSizeAt;
}

TEST_F(OneField, EachRuleAndSentinel) {
    constexpr uint32_t kBack = pack::kAngleBackward;
    constexpr uint32_t kEnd = pack::kAngleEnd;
    constexpr uint32_t kNone = pack::kNextIlvuNone;
    constexpr uint16_t kNoSize = pack::kNextIlvuSizeNone;
    using F = Field;
    // clang-format off
    const FieldCase cases[] = {
        {"ILVU_EA counts the ILVU's kept sectors",
         F::IlvuEnd, 0, 9, 0, {{3, 4}}, 7, 0},
        {"ILVU_EA 0 (pre-unit, outside blocks) stays",
         F::IlvuEnd, 0, 0, 0, {{3, 4}}, 0, 0},
        {"ILVU_EA on a removed last pack",
         F::IlvuEnd, 2, 9, 0, {{29, 29}}, 8, 0},
        {"NT_ILVU_SA over removed packs",
         F::NextIlvu, 0, 20, 10, {{12, 13}}, 18, 10},
        {"NT_ILVU_SZ in kept sectors",
         F::NextIlvu, 0, 20, 10, {{25, 27}}, 20, 7},
        {"NT_ILVU_SA whose ILVU is gone: the next one",
         F::NextIlvu, 0, 20, 10, {{20, 29}}, 30, 10},
        {"NT_ILVU_SA with no ILVU of the cell left",
         F::NextIlvu, 0, 20, 10, {{20, 29}, {40, 49}}, kNone, kNoSize},
        {"NT_ILVU_SA/SZ sentinel stays",
         F::NextIlvu, 4, kNone, kNoSize, {{41, 42}}, kNone, kNoSize},
        {"SML_AGLI forward with its size",
         F::SmlAngle, 0, 30, 10, {{15, 16}, {33, 33}}, 28, 9},
        {"SML_AGLI backward",
         F::SmlAngle, 3, kBack | 10, 10, {{1, 1}, {22, 24}}, kBack | 7, 7},
        {"SML_AGLI whose ILVU is gone: the next one",
         F::SmlAngle, 0, 30, 10, {{30, 39}}, 40, 10},
        {"SML_AGLI with no ILVU of the angle left",
         F::SmlAngle, 0, 30, 10, {{30, 39}, {50, 59}}, kEnd, 0},
        {"SML_AGLI end sentinel stays",
         F::SmlAngle, 4, kEnd, 0, {{45, 45}}, kEnd, 0},
        {"SML_AGLI 0 (no such angle) stays",
         F::SmlAngle, 0, 0, 0, {{5, 5}}, 0, 0},
        {"NSML_AGLI forward",
         F::NsmlAngle, 1, 30, 0, {{12, 19}}, 22, 0},
        {"NSML_AGLI backward",
         F::NsmlAngle, 5, kBack | 30, 0, {{21, 21}, {44, 46}}, kBack | 26, 0},
        {"NSML_AGLI whose VOBU is gone: the next one",
         F::NsmlAngle, 0, 10, 0, {{10, 19}}, 20, 0},
        {"NSML_AGLI with nothing of the angle left",
         F::NsmlAngle, 0, 10, 0, {{10, 19}, {30, 39}, {50, 59}}, kEnd, 0},
        {"NSML_AGLI end sentinel stays",
         F::NsmlAngle, 5, kEnd, 0, {{51, 51}}, kEnd, 0},
        {"a target outside the stream stays",
         F::NsmlAngle, 0, 0x500000, 0, {{5, 5}}, 0x500000, 0},
    };
    // clang-format on
    const ilvu::Layout noIfo;
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.what);
        CRemovedSectors removed;
        for (auto [first, last] : c.removed) {
            for (int32_t s = first; s <= last; ++s) {
                removed.Remove(s);
            }
        }
        const CIlvuPointers pointers(removed, m_Layout, noIfo);
        uint8_t navpack[kPack] = {};
        WriteBE32(navpack, At(c.field), c.value);
        const bool sized = c.field == Field::NextIlvu || c.field == Field::SmlAngle;
        if (sized) {
            WriteBE16(navpack, SizeAt(c.field), c.size);
        }
        const bool changed = pointers.Rewrite(navpack, c.nav);
        EXPECT_EQ(ReadBE32(navpack, At(c.field)), c.expected);
        if (sized) {
            EXPECT_EQ(ReadBE16(navpack, SizeAt(c.field)), c.expectedSize);
        }
        EXPECT_EQ(changed, c.expected != c.value || c.expectedSize != c.size);
    }
}

// --- An interrupted in-place run ---

class InterleavedInPlace : public EngineTest {
  protected:
    void Run() {
        CapturedSinks::Clear();
        m_Engine.m_Abort = 0;
        m_Engine.m_Failed = 0;
        m_Engine.m_JournalLeft = 0;
        ASSERT_EQ(m_Engine.Open(VobPath(m_Disc, 1, 1)), 0);
        m_Engine.ProcessVts();
    }
    void StartAgain() {
        fs::remove_all(m_Disc);
        MakeCase(m_Disc, m_Case);
    }

    const std::string m_Disc = m_Dir + "/disc";
    const RunCase m_Case{"", Kind::SeamlessAngles, 2, 2, 1, {{0, 0, 0, 2}, {1, 1, 0, 4}}, -1, 17};
    int32_t m_Seen = 0;
};

// Each navpack's fields are rewritten relative to where they stood: done twice they would move
// twice. The journal must let the next run finish exactly what the interrupted one left.
TEST_F(InterleavedInPlace, AFailedWriteIsFinishedByTheNextRunByteForByte) {
    m_Engine.m_LogPath = m_Dir + "/Dorvex.log";
    m_Engine.m_InPlace = 1;
    m_Engine.m_RemoveUnrefed = 1;
    StartAgain();
    Run();
    ASSERT_FALSE(m_Engine.RunInterrupted());
    ASSERT_EQ(IlvuFindings(m_Disc), std::vector<std::string>{});
    const Tree cleaned = ReadTree(m_Disc);
    StartAgain();
    m_FileSystem.SetRule([this](FileOp op, const std::string&, int64_t) {
        return op != FileOp::Write || ++m_Seen > 0;
    });
    Run();
    const int32_t writes = m_Seen;
    ASSERT_GT(writes, 0);
    for (int32_t n = 1; n <= writes; ++n) {
        SCOPED_TRACE("write " + std::to_string(n) + " of " + std::to_string(writes));
        StartAgain();
        m_Seen = 0;
        m_FileSystem.SetRule([this, n](FileOp op, const std::string&, int64_t) {
            return op != FileOp::Write || ++m_Seen != n;
        });
        Run();
        m_FileSystem.SetRule(nullptr);
        Run();
        EXPECT_FALSE(m_Engine.RunInterrupted());
        EXPECT_TRUE(ReadTree(m_Disc) == cleaned);
    }
}

}  // namespace
}  // namespace dorvex::testkit
