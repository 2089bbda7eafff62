#include <gtest/gtest.h>

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
    ifo->CheckPgcSectors(nullptr, 0, false);
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
    ifo->CheckPgcSectors(cells.data(), 2, false);

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
    ifo->CheckPgcSectors(cells.data(), 4, false);
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

TEST(PlaybackTimeCodec, DecodeEncodeQuirks) {
    const uint8_t stored[] = {0x01, 0x23, 0x45, 0xD9};
    CPlaybackTime t;
    t.Decode(stored);
    EXPECT_EQ(t.m_nHours, 1);
    EXPECT_EQ(t.m_nMinutes, 23);
    EXPECT_EQ(t.m_nSeconds, 45);
    EXPECT_EQ(t.m_nFrames, 19);
    EXPECT_EQ(t.m_nStandard, 2);
    t.m_nStandard = 1;
    uint8_t out[4];
    t.Encode(out);
    EXPECT_EQ(ReadBE32(out, 0), 0x01234559u);

    const uint8_t zero[] = {0, 0, 0, 0};
    t.Decode(zero);
    EXPECT_TRUE(t.IsZero());
    EXPECT_EQ(t.m_nStandard, 2);
    const uint8_t faces[] = {0xFF, 0, 0, 0x80};
    t.Decode(faces);
    EXPECT_EQ(t.m_nHours, 165);  // digits at face value
    EXPECT_EQ(t.m_nStandard, 2);
    t.m_nHours = 123;
    t.Encode(out);
    EXPECT_EQ(out[0], 0xC3);
    EXPECT_EQ(out[3], 0xC0);
}

TEST(PlaybackTimeCodec, CarriesAndTicks) {
    CPlaybackTime a;
    a.m_nStandard = 1;
    a.m_nSeconds = 59;
    a.m_nFrames = 20;
    CPlaybackTime b;
    b.m_nFrames = 10;
    a.Add(b);
    EXPECT_EQ(a.m_nMinutes, 1);
    EXPECT_EQ(a.m_nSeconds, 0);
    EXPECT_EQ(a.m_nFrames, 5);

    CPlaybackTime c;
    c.m_nMinutes = 59;
    c.m_nSeconds = 59;
    c.m_nFrames = 29;
    CPlaybackTime one;
    one.m_nFrames = 1;
    c.Add(one);
    EXPECT_EQ(c.m_nHours, 1);
    EXPECT_EQ(c.m_nMinutes + c.m_nSeconds + c.m_nFrames, 0);

    g_nVideoStandard = kStandardPal;
    CPlaybackTime t;
    t.FromTicks(90000);
    EXPECT_EQ(t.m_nSeconds, 1);
    EXPECT_EQ(t.m_nFrames, 0);
    g_nVideoStandard = kStandardNtsc;
    t.FromTicks(90000);
    EXPECT_EQ(t.m_nSeconds, 0);
    EXPECT_EQ(t.m_nFrames, 29);
    t.FromTicks(90090);
    EXPECT_EQ(t.m_nSeconds, 1);
    EXPECT_EQ(t.m_nFrames, 0);
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

TEST_F(PgcTime, OnlyTheFirstAngleCounts) {
    EXPECT_EQ(Update({Timed(1, 1, 0x00001040), Timed(1, 2, 0x00001040, 0x50),
                      Timed(1, 3, 0x00001040, 0xD0)}),
              0x00002040u);
}

TEST_F(PgcTime, ZeroCellsAreFilledWithTheirOwnRate) {
    g_nVideoStandard = kStandardPal;
    std::vector<CellSpec> after;
    EXPECT_EQ(
        Update({Timed(1, 1, 0x00000040), Timed(1, 2, 0x00000000), Timed(1, 3, 0x000000C0)}, &after),
        0x000001D8u);  // 12 + 18 + 18 frames, counted at the last cell's 30 per second
    EXPECT_EQ(after[0].playbackTime, 0x00000052u);
    EXPECT_EQ(after[1].playbackTime, 0x000000D8u);
    EXPECT_EQ(after[2].playbackTime, 0x000000D8u);
}

TEST_F(PgcTime, AllZeroCellsSumTheirFill) {
    EXPECT_EQ(Update({Timed(1, 1, 0x00000040), Timed(1, 2, 0x00000040)}), 0x00000064u);
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
