#include <gtest/gtest.h>

#include "IfoTestSupport.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {
namespace {

// The linear scan the lookup must agree with.
int32_t ScanMapSector(int32_t sector, const std::vector<int32_t>& o, const std::vector<int32_t>& n,
                      int32_t count, int32_t floor, bool& inexact) {
    inexact = false;
    for (int32_t i = 0; i < count; ++i) {
        if (o[i] >= sector && n[i] > floor) {
            inexact = o[i] != sector;
            return n[i];
        }
    }
    return n[count - 1];
}

TEST(MapSectorTest, ExactForwardFloorAndPastTheEnd) {
    const int32_t oldList[] = {0, 40, 100, 150};
    const int32_t newList[] = {0, 40, 60, 110};
    bool inexact = true;
    EXPECT_EQ(MapSector(100, oldList, newList, 3, -1, inexact), 60);
    EXPECT_FALSE(inexact);
    EXPECT_EQ(MapSector(41, oldList, newList, 3, -1, inexact), 60);
    EXPECT_TRUE(inexact);
    EXPECT_EQ(MapSector(150, oldList, newList, 4, 60, inexact), 110);
    EXPECT_FALSE(inexact);
    EXPECT_EQ(MapSector(40, oldList, newList, 4, 40, inexact), 60);  // floor skips 40
    EXPECT_TRUE(inexact);
    EXPECT_EQ(MapSector(500, oldList, newList, 3, -1, inexact), 60);  // last entry looked at
    EXPECT_FALSE(inexact);
    EXPECT_EQ(MapSector(77, oldList, newList, 0, -1, inexact), 77);  // nothing to look at
    EXPECT_FALSE(inexact);
}

TEST(MapSectorTest, AgreesWithALinearScanOnRandomLists) {
    uint32_t seed = 12345;
    auto next = [&seed]() { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 200; ++round) {
        std::vector<int32_t> o, n;
        int32_t oldPos = 0, newPos = 0;
        const int32_t count = 1 + next() % 40;
        for (int32_t i = 0; i < count; ++i) {
            oldPos += 1 + next() % 50;
            if (next() % 3 != 0) {
                newPos += next() % 50;  // dropped runs keep the position
            }
            o.push_back(oldPos);
            n.push_back(newPos);
        }
        for (int probe = 0; probe < 50; ++probe) {
            const int32_t sector = static_cast<int32_t>(next() % (oldPos + 20)) - 5;
            const int32_t floor = static_cast<int32_t>(next() % (newPos + 10)) - 2;
            const int32_t limit = 1 + next() % count;
            bool a = false, b = false;
            ASSERT_EQ(MapSector(sector, o.data(), n.data(), limit, floor, a),
                      ScanMapSector(sector, o, n, limit, floor, b));
            ASSERT_EQ(a, b);
        }
    }
}

class CellSectors : public ::testing::Test {
  protected:
    std::unique_ptr<CIfoFile> Load(const std::vector<PgcSpec>& pgcs) {
        VtsSpec vts;
        vts.titlePgcs = pgcs;
        vts.titleCAdt = CAdtFromPgcs(pgcs);
        vts.titleAdmap = {0, 40, 100};
        m_Ifo = LoadImage(m_Dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
        return std::move(m_Ifo);
    }
    TempDir m_Dir;
    LogCapture m_Log;
    std::unique_ptr<CIfoFile> m_Ifo;
};

TEST_F(CellSectors, ExactNavpacksMapSilently) {
    auto ifo = Load({{Cell(1, 1, 100, 100, 149)}});
    const int32_t oldList[] = {0, 40, 100, 150};
    const int32_t newList[] = {0, 40, 60, 110};
    ifo->UpdateCellSectors(NavpackMap::WithEndEntry(oldList, newList, 4), false);
    std::vector<CellSpec> cells = ReadTitlePgcCells(ImageOf(*ifo), 1);
    EXPECT_EQ(cells[0].firstSector, 60u);
    EXPECT_EQ(cells[0].lastVobuStart, 60u);
    EXPECT_EQ(cells[0].lastSector, 109u);
    EXPECT_TRUE(m_Log.Lines().empty());
}

TEST_F(CellSectors, EachInexactFieldIsReportedWithItsMessage) {
    CellSpec c = Cell(1, 1, 41, 41, 120);
    c.firstIlvuEnd = 70;
    CellSpec angle = Cell(1, 2, 0, 0, 39);
    angle.firstIlvuEnd = 0xFFFFFFFF;
    auto ifo = Load({{angle}, {Cell(1, 3, 0, 0, 0), c}});
    const int32_t oldList[] = {0, 40, 100, 150};
    const int32_t newList[] = {0, 40, 60, 110};
    ifo->UpdateCellSectors(NavpackMap::WithEndEntry(oldList, newList, 4), false);
    std::vector<CellSpec> cells = ReadTitlePgcCells(ImageOf(*ifo), 2);
    EXPECT_EQ(cells[1].firstSector, 60u);
    EXPECT_EQ(cells[1].lastVobuStart, 60u);
    EXPECT_EQ(cells[1].lastSector, 109u);   // 121 maps forward to the end entry 110
    EXPECT_EQ(cells[1].firstIlvuEnd, 59u);  // 71 maps forward to 60
    EXPECT_EQ(ReadTitlePgcCells(ImageOf(*ifo), 1)[0].firstIlvuEnd, 0xFFFFFFFFu);
    EXPECT_EQ(m_Log.Count("PGC 2 - Cell 2, Original entry sector didn't point to a navpack. Fixed"),
              1);
    EXPECT_EQ(m_Log.Count(
                  "PGC 2 - Cell 2, Original last VOBU start LBA didn't point to a navpack. Fixed"),
              1);
    EXPECT_EQ(
        m_Log.Count(
            "PGC 2 - Cell 2, Original last VOBU end LBA + 1 didn't point to a navpack. Fixed"),
        1);
    EXPECT_EQ(
        m_Log.Count("PGC 2 - Cell 2, Original first ILVU end LBA didn't point to a navpack. Fixed"),
        1);
    // Cell 1 of PGC 2 ends at 0: 1 maps to 40, ending at 39, after a last start of 0.
    EXPECT_EQ(ReadTitlePgcCells(ImageOf(*ifo), 2)[0].lastSector, 39u);
}

TEST_F(CellSectors, OnlyTheEndEntryKeepsStoredSectors) {
    auto ifo = Load({{Cell(1, 1, 100, 140, 149)}});
    const int32_t oldList[] = {0};
    const int32_t newList[] = {0};
    ifo->UpdateCellSectors(NavpackMap::WithEndEntry(oldList, newList, 1), false);
    std::vector<CellSpec> cells = ReadTitlePgcCells(ImageOf(*ifo), 1);
    EXPECT_EQ(cells[0].firstSector, 100u);
    EXPECT_EQ(cells[0].lastVobuStart, 140u);
    EXPECT_EQ(cells[0].lastSector, 149u);
    EXPECT_TRUE(m_Log.Lines().empty());
    EXPECT_TRUE(ReadAdmap(ImageOf(*ifo), ifo::kVtsVobuAdmap).empty());
}

TEST_F(CellSectors, AddressMapDropsRepeatsAndTheEndEntry) {
    auto ifo = Load({{Cell(1, 1, 0, 0, 10)}});
    const int32_t oldList[] = {0, 40, 50, 100, 150};
    const int32_t newList[] = {0, 40, 40, 60, 60};
    ifo->UpdateCellSectors(NavpackMap::WithEndEntry(oldList, newList, 5), false);
    EXPECT_EQ(ReadAdmap(ImageOf(*ifo), ifo::kVtsVobuAdmap), (std::vector<uint32_t>{0, 40}));
    EXPECT_EQ(ifo->m_nSectorCount, 2);
}

TEST_F(CellSectors, AddressMapGrowsAcrossSectorsAndWorkListPast64000) {
    auto ifo = Load({{Cell(1, 1, 0, 0, 10)}});
    std::vector<int32_t> oldList, newList;
    for (int32_t i = 0; i <= 70000; ++i) {
        oldList.push_back(i * 10);
        newList.push_back(i * 10);
    }
    const uint32_t tmapt = ReadBE32(ifo->Data(), ifo::kTmaptOrTxtdt);
    ifo->UpdateCellSectors(NavpackMap::WithEndEntry(oldList.data(), newList.data(),
                                                    static_cast<int32_t>(oldList.size())),
                           false);
    std::vector<uint32_t> admap = ReadAdmap(ImageOf(*ifo), ifo::kVtsVobuAdmap);
    ASSERT_EQ(admap.size(), 70000u);
    EXPECT_EQ(admap.back(), 699990u);
    EXPECT_EQ(ReadBE32(ifo->Data(), ifo::kTmaptOrTxtdt), tmapt);  // a table before it stays
}

TEST(VmgAdmap, NoNavpacksLeftRemovesTheMenuVobs) {
    TempDir dir;
    VmgSpec plan;
    plan.menuUnits = {{{Cell(1, 1, 0, 0, 9)}}};
    plan.menuAdmap = {0};
    auto vmg = LoadImage(dir, "VIDEO_TS.IFO", BuildVmgIfo(plan));
    WriteBE32(vmg->Data(), ifo::kMenuVobsSector, 9);
    const int32_t list[] = {0};
    vmg->UpdateCellSectors(NavpackMap::WithEndEntry(list, list, 1), true);
    EXPECT_EQ(ReadBE32(vmg->Data(), ifo::kMenuVobuAdmap), 0u);
    EXPECT_EQ(ReadBE32(vmg->Data(), ifo::kMenuVobsSector), 0u);
}

TEST(TimeMaps, RepeatsMergeKeepingTheFirstDiscontinuityBit) {
    TempDir dir;
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    vts.timeMaps = {{1, {10 | 0x80000000u, 12, 14, 20}}, {2, {20}}};
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    const int32_t oldList[] = {10, 12, 14, 20, 30};
    const int32_t newList[] = {8, 8, 8, 9, 19};
    ifo->RebuildTimeMaps(NavpackMap::WithEndEntry(oldList, newList, 5));
    uint8_t* table = ifo->GetTable(IfoVtsTmapt);
    uint8_t* first = table + ReadBE32(table, 8);
    EXPECT_EQ(ReadBE16(first, 2), 2);
    EXPECT_EQ(ReadBE32(first, 4), 8u | 0x80000000u);
    EXPECT_EQ(ReadBE32(first, 8), 9u);
    uint8_t* second = table + ReadBE32(table, 12);
    EXPECT_EQ(ReadBE16(second, 2), 1);
    // The second map ends farthest: its last byte is the table's new end.
    EXPECT_EQ(ReadBE32(table, 4), ReadBE32(table, 12) + 4 + 4 - 1);
}

TEST(TimeMaps, AMapTwoProgramChainsShareIsRemappedOnce) {
    TempDir dir;
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    vts.timeMaps = {{1, {10, 20, 30}}, {1, {10, 20, 30}}};
    std::vector<uint8_t> image = BuildVtsIfo(vts);
    const uint32_t tmapt = ReadBE32(image.data(), ifo::kTmaptOrTxtdt) * 2048;
    WriteBE32(image.data(), static_cast<int32_t>(tmapt + 12),
              ReadBE32(image.data(), static_cast<int32_t>(tmapt + 8)));
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", image);
    // The first VOBU was removed: every entry moves down by one VOBU, once.
    const int32_t oldList[] = {0, 10, 20, 30, 40};
    const int32_t newList[] = {0, 0, 10, 20, 30};
    ifo->RebuildTimeMaps(NavpackMap::WithEndEntry(oldList, newList, 5));
    uint8_t* table = ifo->GetTable(IfoVtsTmapt);
    uint8_t* map = table + ReadBE32(table, 8);
    ASSERT_EQ(ReadBE16(map, 2), 3);
    EXPECT_EQ(ReadBE32(map, 4), 0u);
    EXPECT_EQ(ReadBE32(map, 8), 10u);
    EXPECT_EQ(ReadBE32(map, 12), 20u);
}

TEST(TimeMaps, EntriesOfPacksDroppedAtTheEndAreCut) {
    TempDir dir;
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    vts.timeMaps = {{1, {0, 10, 20, 30}}};
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    // The cell from sector 20 on was dropped: its navpacks all map to the end, 20.
    const int32_t oldList[] = {0, 10, 20, 30, 40};
    const int32_t newList[] = {0, 10, 20, 20, 20};
    ifo->RebuildTimeMaps(NavpackMap::WithEndEntry(oldList, newList, 5));
    uint8_t* table = ifo->GetTable(IfoVtsTmapt);
    uint8_t* map = table + ReadBE32(table, 8);
    ASSERT_EQ(ReadBE16(map, 2), 2);
    EXPECT_EQ(ReadBE32(map, 4), 0u);
    EXPECT_EQ(ReadBE32(map, 8), 10u);
}

TEST(CellAddressTable, GroupsByVobIdAndResizes) {
    TempDir dir;
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    vts.titleCAdt = {{1, 1, 0, 9}, {1, 2, 10, 19}, {2, 1, 20, 29}};
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    std::vector<CellTableEntry> cells = {
        {1, 1, 0, 9}, {2, 1, 10, 19}, {1, 2, 20, 29}, {3, 1, 30, 39}, {2, 2, 40, 49}};
    ifo->RebuildCellAddressTable(cells.data(), 5, false);
    std::vector<uint8_t> image = ImageOf(*ifo);
    std::vector<CAdtEntry> table = ReadCAdt(image, ifo::kVtsCAdt);
    ASSERT_EQ(table.size(), 5u);
    const std::pair<int, int> expected[] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {3, 1}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(table[i].vobId, expected[i].first);
        EXPECT_EQ(table[i].cellId, expected[i].second);
    }
    EXPECT_EQ(table[1].firstSector, 20u);
    const uint8_t* raw = ifo->GetTable(IfoVtsCAdt);
    EXPECT_EQ(ReadBE16(raw, 0), 3);
    EXPECT_EQ(ReadBE32(raw, 4), 67u);

    ifo->RebuildCellAddressTable(cells.data(), 0, false);
    raw = ifo->GetTable(IfoVtsCAdt);
    EXPECT_EQ(ReadBE16(raw, 0), 0);
    EXPECT_EQ(ReadBE32(raw, 4), 7u);
}

// libdvdread checks every entry's VOB ID against the count: with VOB IDs kept as they were, a
// dropped VOB 1 leaves VOB ID 2 in a table of one VOB.
TEST(CellAddressTable, TheCountReachesTheHighestVobIdKept) {
    const struct {
        std::vector<CellTableEntry> cells;
        uint16_t count;
    } cases[] = {
        {{{2, 1, 0, 9}, {2, 2, 10, 19}}, 2},
        {{{3, 1, 0, 9}, {5, 1, 10, 19}}, 5},
        {{{1, 1, 0, 9}, {2, 1, 10, 19}, {1, 2, 20, 29}}, 2},
    };
    for (const auto& c : cases) {
        TempDir dir;
        VtsSpec vts;
        vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
        vts.titleCAdt = {{1, 1, 0, 9}};
        auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
        ifo->RebuildCellAddressTable(c.cells.data(), static_cast<int32_t>(c.cells.size()), false);
        EXPECT_EQ(ReadBE16(ifo->GetTable(IfoVtsCAdt), ifo::kTableCount), c.count);
        EXPECT_EQ(ReadCAdt(ImageOf(*ifo), ifo::kVtsCAdt).size(), c.cells.size());
    }
}

TEST(CellAddressTable, VideoManagerWithoutCellsLosesTheTable) {
    TempDir dir;
    VmgSpec plan;
    plan.menuUnits = {{{Cell(1, 1, 0, 0, 9)}}};
    plan.menuCAdt = {{1, 1, 0, 9}};
    auto vmg = LoadImage(dir, "VIDEO_TS.IFO", BuildVmgIfo(plan));
    vmg->RebuildCellAddressTable(nullptr, 0, true);
    EXPECT_EQ(ReadBE32(vmg->Data(), ifo::kMenuCAdt), 0u);
}

TEST(CellPositions, FirstMapRecordWinsAndUnknownPairsStay) {
    TempDir dir;
    VtsSpec vts;
    vts.menuUnits = {{{Cell(1, 1, 0, 0, 9), Cell(4, 4, 10, 10, 19)}}};
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    std::vector<VcidMapEntry> map = {{1, 1, 2, 5}, {1, 1, 3, 6}};
    ifo->RemapCellPositions(map.data(), 2, true);
    EXPECT_TRUE(ifo->IsVcidReferenced(2, 5, true));
    EXPECT_TRUE(ifo->IsVcidReferenced(4, 4, true));
    EXPECT_FALSE(ifo->IsVcidReferenced(3, 6, true));
    EXPECT_TRUE(ifo->IsVcidReferenced(1, 1, false));  // the title domain was not touched
    EXPECT_FALSE(ifo->IsVcidReferenced(257, 1, false));
}

}  // namespace
}  // namespace dorvex::testkit
