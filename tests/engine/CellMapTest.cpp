#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "ifo/IfoFile.h"

namespace dorvex::testkit {
namespace {

class CellMap : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_Engine.ResetRunState();
        m_Engine.m_Cells.assign(kCellCapacity, CellTableEntry{});
        m_Engine.m_CellCount = 0;
    }
    // Feeds a VCID change as the pass would, with the output position it has reached.
    void NewVcid(CIfoFile& ifo, uint16_t vobId, uint8_t cellId, int32_t writtenTotal) {
        m_Engine.m_VobId = vobId;
        m_Engine.m_CellId = cellId;
        m_Engine.m_WrittenTotal = writtenTotal;
        m_Engine.OnNewVcid(ifo);
    }
    void ExpectMapped(uint16_t vobId, uint8_t cellId, uint16_t newVobId, uint8_t newCellId) {
        uint16_t v = 0;
        uint8_t c = 0;
        m_Engine.GetMapping(vobId, cellId, v, c);
        EXPECT_EQ(v, newVobId) << vobId << "/" << int(cellId);
        EXPECT_EQ(c, newCellId) << vobId << "/" << int(cellId);
    }
};

TEST_F(CellMap, KeptCellsAreNumberedInOrderOfFirstAppearance) {
    // 1/2 and 3/1 of the stream 1/1, 1/2, 1/3, 2/1, 3/1, 4/1 are dropped and never mapped.
    for (auto [v, c] : {std::pair<int, int>{1, 1}, {1, 3}, {2, 1}, {4, 1}}) {
        m_Engine.AddToMap(static_cast<uint16_t>(v), static_cast<uint8_t>(c));
    }
    ExpectMapped(1, 1, 1, 1);
    ExpectMapped(1, 3, 1, 2);
    ExpectMapped(2, 1, 2, 1);
    ExpectMapped(4, 1, 3, 1);
    EXPECT_EQ(m_Engine.m_MapCount, 4);
}

TEST_F(CellMap, WithoutVobIdRemapEachVobIdKeepsItsNumberAndCountsItsOwnCells) {
    m_Engine.m_RemapVOBIDs = 0;
    EXPECT_EQ(m_Engine.AddToMap(5, 3), PackVcid(5, 1));
    EXPECT_EQ(m_Engine.AddToMap(7, 9), PackVcid(7, 1));
    EXPECT_EQ(m_Engine.AddToMap(5, 4), PackVcid(5, 2));
    EXPECT_EQ(m_Engine.AddToMap(60000, 1), PackVcid(60000, 1));
}

TEST_F(CellMap, TheCellCounterWrapsAfter255) {
    for (int i = 0; i < 255; ++i) {
        m_Engine.AddToMap(1, static_cast<uint8_t>(i));
    }
    EXPECT_EQ(m_Engine.AddToMap(1, 255), PackVcid(1, 0));
}

TEST_F(CellMap, GetMappingTellsChangesAndFailsWithoutTouchingItsOutputs) {
    m_Engine.AddToMap(3, 1);  // becomes 1/1
    m_Engine.AddToMap(1, 1);  // becomes 2/1
    m_Engine.m_RemapVOBIDs = 0;
    uint16_t v = 77;
    uint8_t c = 88;
    EXPECT_EQ(m_Engine.GetMapping(3, 1, v, c), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(c, 1);
    m_Engine.ResetRunState();
    m_Engine.AddToMap(4, 1);
    EXPECT_EQ(m_Engine.GetMapping(4, 1, v, c), 0);
    EXPECT_TRUE(CapturedSinks::Alerts().empty());

    v = 77;
    c = 88;
    EXPECT_EQ(m_Engine.GetMapping(9, 9, v, c), 0);
    EXPECT_EQ(v, 77);
    EXPECT_EQ(c, 88);
    EXPECT_EQ(CapturedSinks::Alerts(), std::vector<std::string>{"GetMapping failed!"});
}

TEST_F(CellMap, TheMapGrowsPastItsStatedCapacityAndAlertsOnce) {
    m_Engine.m_RemapVOBIDs = 0;
    const int total = kVcidMapCapacity + 300;
    for (int i = 0; i < total; ++i) {
        m_Engine.AddToMap(static_cast<uint16_t>(100 + i / 200), static_cast<uint8_t>(i % 200));
    }
    EXPECT_EQ(m_Engine.m_MapCount, total);
    EXPECT_EQ(CapturedSinks::Alerts(), std::vector<std::string>{"VCIDMap too small!"});
    const int last = total - 1;
    ExpectMapped(static_cast<uint16_t>(100 + last / 200), static_cast<uint8_t>(last % 200),
                 static_cast<uint16_t>(100 + last / 200), static_cast<uint8_t>(last % 200 + 1));
}

TEST_F(CellMap, OnNewVcidClosesCellsAndLogsRemaps) {
    CIfoFile ifo(m_Dir + "/VTS_01_0.IFO");  // missing: every VCID counts as referenced
    ASSERT_FALSE(ifo.m_bLoaded);
    NewVcid(ifo, 3, 2, 0);
    EXPECT_EQ(m_Engine.m_CellCount, 0);  // the all-zero start entry is not closed
    NewVcid(ifo, 3, 5, 10);
    NewVcid(ifo, 3, 2, 25);  // met again: its own cell entry, no second map entry
    NewVcid(ifo, 8, 1, 30);

    ASSERT_EQ(m_Engine.m_CellCount, 3);
    const auto& cells = m_Engine.m_Cells;
    EXPECT_EQ(cells[0].vobId, 1);
    EXPECT_EQ(cells[0].cellId, 1);
    EXPECT_EQ(cells[0].firstLba, 0);
    EXPECT_EQ(cells[0].lastLba, 9);
    EXPECT_EQ(cells[1].cellId, 2);
    EXPECT_EQ(cells[1].firstLba, 10);
    EXPECT_EQ(cells[1].lastLba, 24);
    EXPECT_EQ(cells[2].vobId, 1);
    EXPECT_EQ(cells[2].cellId, 1);
    EXPECT_EQ(cells[2].lastLba, 29);
    EXPECT_EQ(cells[3].vobId, 8);  // open entry keeps the VCID read from the stream
    EXPECT_EQ(cells[3].firstLba, 30);
    EXPECT_EQ(m_Engine.m_MapCount, 3);

    auto logs = CapturedSinks::Logs();
    EXPECT_TRUE(HasLine(logs, "Found VCID 3/2 at LBA 0 (0 out)"));
    EXPECT_EQ(CountLines(logs, "Remapping 3/2 to 1/1"), 1);
    EXPECT_TRUE(HasLine(logs, "Remapping 3/5 to 1/2"));
    EXPECT_TRUE(HasLine(logs, "Remapping 8/1 to 2/1"));
    EXPECT_TRUE(CapturedSinks::Alerts().empty());
}

TEST_F(CellMap, TheCellTableGrowsPastItsStatedCapacityAndAlertsOnce) {
    CIfoFile ifo(m_Dir + "/VTS_01_0.IFO");
    const int changes = kCellCapacity + 50;
    for (int i = 0; i <= changes; ++i) {
        NewVcid(ifo, 1, static_cast<uint8_t>(1 + i % 2), i * 2);
    }
    EXPECT_EQ(m_Engine.m_CellCount, changes);
    EXPECT_EQ(CapturedSinks::Alerts(), std::vector<std::string>{"Too many cells!"});
    EXPECT_EQ(m_Engine.m_Cells[changes - 1].firstLba, (changes - 1) * 2);
    EXPECT_EQ(m_Engine.m_Cells[changes - 1].lastLba, changes * 2 - 1);
}

}  // namespace
}  // namespace dorvex::testkit
