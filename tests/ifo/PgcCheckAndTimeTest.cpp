#include <gtest/gtest.h>

#include <array>

#include "IfoTestSupport.h"
#include "engine/PackInfo.h"
#include "ifo/IfoLayout.h"
#include "ifo/PlaybackTime.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {
namespace {

CellSpec Timed(uint16_t vob, uint8_t cell, uint32_t time, uint8_t category = 0) {
    CellSpec c = Cell(vob, cell, 0, 0, 0);
    c.playbackTime = time;
    c.category = category;
    return c;
}

class PgcCheck : public ::testing::Test {
  protected:
    std::unique_ptr<CIfoFile> Load(const std::vector<PgcSpec>& pgcs) {
        VtsSpec vts;
        vts.titlePgcs = pgcs;
        return LoadImage(m_Dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    }
    TempDir m_Dir;
    LogCapture m_Log;
};

TEST_F(PgcCheck, EmptyCellTableReportsEveryCellOnce) {
    auto ifo = Load({{Cell(1, 1, 0, 0, 9)}, {Cell(1, 2, 10, 10, 19)}});
    std::vector<uint8_t> before = ImageOf(*ifo);
    ifo->CheckPgcSectors({}, false);
    EXPECT_EQ(m_Log.Lines(),
              (std::vector<std::string>{"PGC 1 Cell 1 references VCID 1/1 not found in VOB",
                                        "PGC 2 Cell 1 references VCID 1/2 not found in VOB"}));
    EXPECT_EQ(ImageOf(*ifo), before);
}

TEST_F(PgcCheck, MissingPairsAreRepointedOrReplacedInTheSecondPass) {
    CellSpec reference = Cell(1, 1, 0, 0, 99);
    reference.playbackTime = 0x00000512;
    auto ifo = Load({{reference}, {Cell(1, 3, 500, 520, 560)}, {Cell(1, 9, 5000, 5000, 5100)}});
    std::vector<CellTableEntry> cells = {{1, 1, 0, 99}, {1, 4, 480, 600}};
    ifo->CheckPgcSectors({cells.data(), 2}, false);

    std::vector<CellSpec> second = ReadTitlePgcCells(ImageOf(*ifo), 2);
    EXPECT_EQ(second[0].vobId, 1);
    EXPECT_EQ(second[0].cellId, 4);
    EXPECT_EQ(second[0].firstSector, 500u);  // sectors unchanged
    EXPECT_EQ(second[0].lastSector, 560u);
    std::vector<CellSpec> third = ReadTitlePgcCells(ImageOf(*ifo), 3);
    EXPECT_EQ(third[0].cellId, 1);  // a copy of the reference cell, time included
    EXPECT_EQ(third[0].lastSector, 99u);
    EXPECT_EQ(third[0].playbackTime, 0x00000512u);
    EXPECT_EQ(m_Log.Lines(),
              (std::vector<std::string>{"PGC 2 Cell 1 references VCID 1/3 not found in VOB",
                                        "PGC 3 Cell 1 references VCID 1/9 not found in VOB",
                                        "Correcting VCID of PGC 2 Cell 1 to 1/4",
                                        "Remapping PGC 3 Cell 1 to 1/1"}));
}

TEST_F(PgcCheck, ClampsOrdinaryCellsButNotAngleOrInterleavedOnes) {
    CellSpec wild = Cell(1, 1, 5, 30, 31);
    CellSpec edge = Cell(1, 2, 40, 59, 59);  // end at the cell's last sector is fine
    edge.firstSector = 45;                   // inside the cell, but on its second VOBU
    CellSpec angle = Cell(1, 3, 0, 500, 900);
    angle.category = 0x50;  // first cell of an angle block
    CellSpec interleaved = Cell(1, 4, 0, 500, 900);
    interleaved.category = ifo::kCategoryInterleaved;
    auto ifo = Load({{wild, edge, angle, interleaved}});
    std::vector<CellTableEntry> cells = {
        {1, 1, 10, 29}, {1, 2, 40, 59}, {1, 3, 60, 69}, {1, 4, 70, 79}};
    ifo->CheckPgcSectors({cells.data(), 4}, false);
    std::vector<CellSpec> out = ReadTitlePgcCells(ImageOf(*ifo), 1);
    EXPECT_EQ(out[0].firstSector, 10u);
    EXPECT_EQ(out[0].lastVobuStart, 10u);  // set to the first sector, not the last
    EXPECT_EQ(out[0].lastSector, 29u);
    EXPECT_EQ(out[1].firstSector, 40u);
    EXPECT_EQ(out[1].lastVobuStart, 40u);  // a last start equal to the last sector is wrong
    EXPECT_EQ(out[1].lastSector, 59u);
    EXPECT_EQ(out[2].lastSector, 900u);
    EXPECT_EQ(out[3].lastSector, 900u);
    EXPECT_EQ(m_Log.Lines(),
              (std::vector<std::string>{"PGC 1 - Cell 1, adjusting First Vobu Start LBA",
                                        "PGC 1 - Cell 1, Adjusting Last Vobu Start LBA",
                                        "PGC 1 - Cell 1, Adjusting Last Vobu End LBA",
                                        "PGC 1 - Cell 2, adjusting First Vobu Start LBA",
                                        "PGC 1 - Cell 2, Adjusting Last Vobu Start LBA"}));
}

// A time as hours, minutes, seconds, frames and standard (1: 25 frames per second, 2: 30).
using Parts = std::array<int32_t, 5>;

Parts PartsOf(const CPlaybackTime& t) {
    return {t.m_nHours, t.m_nMinutes, t.m_nSeconds, t.m_nFrames, t.m_nStandard};
}

TEST(PlaybackTimeCodec, DecodeEncodeQuirks) {
    // Digits are taken at face value; any rate but 25 per second reads as 30.
    auto decode = [](const char* name, uint32_t stored, const Parts& parts) {
        uint8_t bytes[4];
        WriteBE32(bytes, 0, stored);
        CPlaybackTime t;
        t.Decode(bytes);
        EXPECT_EQ(PartsOf(t), parts) << name;
        EXPECT_EQ(t.IsZero(), parts[0] + parts[1] + parts[2] + parts[3] == 0) << name;
    };
    decode("thirty per second", 0x012345D9, {1, 23, 45, 19, 2});
    decode("zero", 0x00000000, {0, 0, 0, 0, 2});
    decode("digits at face value, rate bits 10", 0xFF000080, {165, 0, 0, 0, 2});

    auto encode = [](const char* name, const CPlaybackTime& t, uint32_t stored) {
        uint8_t bytes[4];
        t.Encode(bytes);
        EXPECT_EQ(ReadBE32(bytes, 0), stored) << name;
    };
    encode("twenty-five per second", {1, 23, 45, 19, 1}, 0x01234559);
    encode("hours above 99 keep their low digit", {123, 0, 0, 0, 2}, 0xC30000C0);
}

TEST(PlaybackTimeCodec, CarriesAndTicks) {
    auto add = [](const char* name, CPlaybackTime a, const CPlaybackTime& b, const Parts& sum) {
        a.Add(b);
        EXPECT_EQ(PartsOf(a), sum) << name;
    };
    add("frames into seconds and minutes", {0, 0, 59, 20, 1}, {0, 0, 0, 10, 2}, {0, 1, 0, 5, 1});
    add("one frame into the hour", {0, 59, 59, 29, 2}, {0, 0, 0, 1, 2}, {1, 0, 0, 0, 2});

    auto ticks = [](const char* name, int32_t standard, int32_t count, const Parts& parts) {
        g_nVideoStandard = standard;
        CPlaybackTime t;
        t.FromTicks(count);
        EXPECT_EQ(PartsOf(t), parts) << name;
    };
    ticks("a second of PAL", kStandardPal, 90000, {0, 0, 1, 0, 1});
    ticks("a second of ticks: 29 NTSC frames", kStandardNtsc, 90000, {0, 0, 0, 29, 2});
    ticks("30 NTSC frames of 3003 ticks", kStandardNtsc, 90090, {0, 0, 1, 0, 2});
    g_nVideoStandard = kStandardUnknown;
}

class PgcTime : public ::testing::Test {
  protected:
    void TearDown() override { g_nVideoStandard = kStandardUnknown; }
    uint32_t Update(const PgcSpec& cells, std::vector<CellSpec>* after = nullptr,
                    uint32_t storedPgcTime = 0) {
        VtsSpec vts;
        vts.titlePgcs = {cells};
        auto ifo = LoadImage(m_Dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
        WriteBE32(ifo->GetPgc(0, 1), ifo::kPgcPlaybackTime, storedPgcTime);
        ifo->UpdatePgcPlaybackTime(0, 1, true, false);
        if (after != nullptr) {
            *after = ReadTitlePgcCells(ImageOf(*ifo), 1);
        }
        return ReadBE32(ifo->GetPgc(0, 1), ifo::kPgcPlaybackTime);
    }
    TempDir m_Dir;
};

// The PGC's time sums its cells at the rate of its last cell; a zero cell is filled with a time
// of its own rate first. Each row: name, standard, cells, the PGC's time, the cells' times.
TEST_F(PgcTime, SumsTheFirstAngleAndFillsZeroCells) {
    auto row = [&](const char* name, int32_t standard, const PgcSpec& cells, uint32_t pgcTime,
                   const std::vector<uint32_t>& cellTimes) {
        g_nVideoStandard = standard;
        std::vector<CellSpec> after;
        EXPECT_EQ(Update(cells, &after), pgcTime) << name;
        for (size_t i = 0; i < cellTimes.size(); ++i) {
            EXPECT_EQ(after[i].playbackTime, cellTimes[i]) << name << ", cell " << i + 1;
        }
    };
    row("only the first angle counts", kStandardUnknown,
        {Timed(1, 1, 0x1040), Timed(1, 2, 0x1040, 0x50), Timed(1, 3, 0x1040, 0xD0)}, 0x2040, {});
    // 12 + 18 + 18 frames, counted at the last cell's 30 per second.
    row("zero cells are filled with their own rate", kStandardPal,
        {Timed(1, 1, 0x40), Timed(1, 2, 0x00), Timed(1, 3, 0xC0)}, 0x1D8, {0x52, 0xD8, 0xD8});
    row("all zero cells sum their fill", kStandardUnknown, {Timed(1, 1, 0x40), Timed(1, 2, 0x40)},
        0x64, {});
}

// A PGC without cells has no cell to take its frame rate from: the disc's standard gives it,
// and while no video has told the standard the stored rate stays.
TEST_F(PgcTime, ACellLessPgcTakesTheStandardsRateOrKeepsItsOwn) {
    const struct {
        int32_t standard;
        uint32_t stored;
        uint32_t expected;
    } cases[] = {
        {kStandardPal, 0x00000000, 0x00000040},     {kStandardNtsc, 0x00000040, 0x000000C0},
        {kStandardUnknown, 0x00000040, 0x00000040}, {kStandardUnknown, 0x000000C0, 0x000000C0},
        {kStandardUnknown, 0x00000000, 0x00000000}, {kStandardUnknown, 0x01020355, 0x00000040},
    };
    for (const auto& c : cases) {
        g_nVideoStandard = c.standard;
        EXPECT_EQ(Update({}, nullptr, c.stored), c.expected)
            << "standard " << c.standard << ", stored " << std::hex << c.stored;
    }
}

}  // namespace
}  // namespace dorvex::testkit
