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

// The pass's navpack lists, old and new sectors, the last pair the end of both streams.
struct Navpacks {
    std::vector<int32_t> oldList, newList;
    NavpackMap Map() const {
        return NavpackMap::WithEndEntry(oldList.data(), newList.data(),
                                        static_cast<int32_t>(oldList.size()));
    }
};

TEST(MapSectorTest, ExactForwardFloorAndPastTheEnd) {
    const int32_t oldList[] = {0, 40, 100, 150};
    const int32_t newList[] = {0, 40, 60, 110};
    const struct {
        const char* name;
        int32_t sector, count, floor, mapped;
        bool inexact;
    } rows[] = {
        {"exact", 100, 3, -1, 60, false},
        {"forward to the next navpack", 41, 3, -1, 60, true},
        {"exact above the floor", 150, 4, 60, 110, false},
        {"the floor skips 40", 40, 4, 40, 60, true},
        {"past the end: the last entry looked at", 500, 3, -1, 60, false},
        {"nothing to look at", 77, 0, -1, 77, false},
    };
    for (const auto& r : rows) {
        bool inexact = !r.inexact;
        EXPECT_EQ(MapSector(r.sector, oldList, newList, r.count, r.floor, inexact), r.mapped)
            << r.name;
        EXPECT_EQ(inexact, r.inexact) << r.name;
    }
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
        return LoadImage(m_Dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    }
    TempDir m_Dir;
    LogCapture m_Log;
};

TEST_F(CellSectors, EachInexactFieldIsReportedWithItsMessage) {
    CellSpec c = Cell(1, 1, 41, 41, 120);
    c.firstIlvuEnd = 70;
    CellSpec angle = Cell(1, 2, 0, 0, 39);
    angle.firstIlvuEnd = 0xFFFFFFFF;
    auto ifo = Load({{angle}, {Cell(1, 3, 0, 0, 0), c}});
    ifo->UpdateCellSectors(Navpacks{{0, 40, 100, 150}, {0, 40, 60, 110}}.Map(), false);
    std::vector<CellSpec> cells = ReadTitlePgcCells(ImageOf(*ifo), 2);
    EXPECT_EQ(cells[1].firstSector, 60u);
    EXPECT_EQ(cells[1].lastVobuStart, 60u);
    EXPECT_EQ(cells[1].lastSector, 109u);   // 121 maps forward to the end entry 110
    EXPECT_EQ(cells[1].firstIlvuEnd, 59u);  // 71 maps forward to 60
    EXPECT_EQ(ReadTitlePgcCells(ImageOf(*ifo), 1)[0].firstIlvuEnd, 0xFFFFFFFFu);
    for (const std::string field :
         {"entry sector", "last VOBU start LBA", "last VOBU end LBA + 1", "first ILVU end LBA"}) {
        EXPECT_EQ(
            m_Log.Count("PGC 2 - Cell 2, Original " + field + " didn't point to a navpack. Fixed"),
            1)
            << field;
    }
    // Cell 1 of PGC 2 ends at 0: 1 maps to 40, ending at 39, after a last start of 0.
    EXPECT_EQ(ReadTitlePgcCells(ImageOf(*ifo), 2)[0].lastSector, 39u);
}

// One cell whose sectors are all navpacks, or a stream that kept only its end entry: no log
// line, and the address map holds the navpacks that start a VOBU.
TEST_F(CellSectors, ExactNavpacksAndOnlyTheEndEntryMapSilently) {
    auto row = [&](const char* name, const CellSpec& cell, const Navpacks& navpacks,
                   const std::vector<uint32_t>& sectors, const std::vector<uint32_t>& admap) {
        SCOPED_TRACE(name);
        auto ifo = Load({{cell}});
        ifo->UpdateCellSectors(navpacks.Map(), false);
        const CellSpec after = ReadTitlePgcCells(ImageOf(*ifo), 1)[0];
        EXPECT_EQ((std::vector<uint32_t>{after.firstSector, after.lastVobuStart, after.lastSector}),
                  sectors);
        EXPECT_EQ(ReadAdmap(ImageOf(*ifo), ifo::kVtsVobuAdmap), admap);
        EXPECT_TRUE(m_Log.Lines().empty());
    };
    row("exact navpacks", Cell(1, 1, 100, 100, 149), {{0, 40, 100, 150}, {0, 40, 60, 110}},
        {60, 60, 109}, {0, 40, 60});
    row("only the end entry: the stored sectors stay", Cell(1, 1, 100, 140, 149), {{0}, {0}},
        {100, 140, 149}, {});
}

TEST_F(CellSectors, AddressMapDropsRepeatsAndTheEndEntry) {
    auto ifo = Load({{Cell(1, 1, 0, 0, 10)}});
    ifo->UpdateCellSectors(Navpacks{{0, 40, 50, 100, 150}, {0, 40, 40, 60, 60}}.Map(), false);
    EXPECT_EQ(ReadAdmap(ImageOf(*ifo), ifo::kVtsVobuAdmap), (std::vector<uint32_t>{0, 40}));
    EXPECT_EQ(ifo->m_nSectorCount, 2);
}

TEST_F(CellSectors, AddressMapGrowsAcrossSectorsAndWorkListPast64000) {
    auto ifo = Load({{Cell(1, 1, 0, 0, 10)}});
    Navpacks navpacks;
    for (int32_t i = 0; i <= 70000; ++i) {
        navpacks.oldList.push_back(i * 10);
        navpacks.newList.push_back(i * 10);
    }
    const uint32_t tmapt = ReadBE32(ifo->Data(), ifo::kTmaptOrTxtdt);
    ifo->UpdateCellSectors(navpacks.Map(), false);
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
    vmg->UpdateCellSectors(Navpacks{{0}, {0}}.Map(), true);
    EXPECT_EQ(ReadBE32(vmg->Data(), ifo::kMenuVobuAdmap), 0u);
    EXPECT_EQ(ReadBE32(vmg->Data(), ifo::kMenuVobsSector), 0u);
}

// Each map's entries after the rebuild, and the table's end address at the last byte of the
// map that ends farthest. `shared`: the second PGC's pointer leads to the first map.
TEST(TimeMaps, EntriesFollowTheNavpacks) {
    auto row = [](const char* name, const std::vector<TimeMapSpec>& maps, bool shared,
                  const Navpacks& navpacks, const std::vector<std::vector<uint32_t>>& expected) {
        SCOPED_TRACE(name);
        TempDir dir;
        VtsSpec vts;
        vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
        vts.timeMaps = maps;
        std::vector<uint8_t> image = BuildVtsIfo(vts);
        const int32_t pointers = static_cast<int32_t>(
            ReadBE32(image.data(), ifo::kTmaptOrTxtdt) * ifo::kSectorSize + ifo::kTmapPointers);
        if (shared) {
            WriteBE32(image.data(), pointers + ifo::kTmapPointerSize,
                      ReadBE32(image.data(), pointers));
        }
        auto ifo = LoadImage(dir, "VTS_01_0.IFO", image);
        ifo->RebuildTimeMaps(navpacks.Map());

        const uint8_t* table = ifo->GetTable(IfoVtsTmapt);
        int64_t farthest = 0;
        for (int32_t m = 0; m < static_cast<int32_t>(expected.size()); ++m) {
            const uint32_t at = ReadBE32(table, ifo::kTmapPointers + ifo::kTmapPointerSize * m);
            std::vector<uint32_t> entries(ReadBE16(table + at, ifo::kTmapEntryCount));
            for (size_t e = 0; e < entries.size(); ++e) {
                entries[e] = ReadBE32(table + at, ifo::kTmapEntries + ifo::kTmapEntrySize * e);
            }
            EXPECT_EQ(entries, expected[m]) << "map " << m + 1;
            farthest = std::max<int64_t>(
                farthest, at + ifo::kTmapEntries - 1 + ifo::kTmapEntrySize * entries.size());
        }
        EXPECT_EQ(ReadBE32(table, ifo::kTableEnd), farthest);
    };
    constexpr uint32_t kJump = ifo::kTmapDiscontinuity;
    row("repeats merge keeping the first discontinuity bit",
        {{1, {10 | kJump, 12, 14, 20}}, {2, {20}}}, false, {{10, 12, 14, 20, 30}, {8, 8, 8, 9, 19}},
        {{8 | kJump, 9}, {9}});
    // The first VOBU was removed: every entry moves down by one VOBU, once.
    row("a map two program chains share is remapped once", {{1, {10, 20, 30}}, {1, {10, 20, 30}}},
        true, {{0, 10, 20, 30, 40}, {0, 0, 10, 20, 30}}, {{0, 10, 20}, {0, 10, 20}});
    // The cell from sector 20 on was dropped: its navpacks all map to the end, 20.
    row("entries of packs dropped at the end are cut", {{1, {0, 10, 20, 30}}}, false,
        {{0, 10, 20, 30, 40}, {0, 10, 20, 20, 20}}, {{0, 10}});
}

TEST(CellAddressTable, GroupsByVobIdAndResizes) {
    TempDir dir;
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    vts.titleCAdt = {{1, 1, 0, 9}, {1, 2, 10, 19}, {2, 1, 20, 29}};
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    std::vector<CellTableEntry> cells = {
        {1, 1, 0, 9}, {2, 1, 10, 19}, {1, 2, 20, 29}, {3, 1, 30, 39}, {2, 2, 40, 49}};
    ifo->RebuildCellAddressTable({cells.data(), 5}, false);
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

    ifo->RebuildCellAddressTable({cells.data(), 0}, false);
    raw = ifo->GetTable(IfoVtsCAdt);
    EXPECT_EQ(ReadBE16(raw, 0), 0);
    EXPECT_EQ(ReadBE32(raw, 4), 7u);
}

// libdvdread checks every entry's VOB ID against the count: with VOB IDs kept as they were, a
// dropped VOB 1 leaves VOB ID 2 in a table of one VOB.
TEST(CellAddressTable, TheCountReachesTheHighestVobIdKept) {
    const struct {
        const char* name;
        std::vector<CellTableEntry> cells;
        uint16_t count;
    } cases[] = {
        {"VOB ID 1 dropped", {{2, 1, 0, 9}, {2, 2, 10, 19}}, 2},
        {"a gap below the highest", {{3, 1, 0, 9}, {5, 1, 10, 19}}, 5},
        {"renumbered", {{1, 1, 0, 9}, {2, 1, 10, 19}, {1, 2, 20, 29}}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        VtsSpec vts;
        vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
        vts.titleCAdt = {{1, 1, 0, 9}};
        auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
        ifo->RebuildCellAddressTable(c.cells, false);
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
    vmg->RebuildCellAddressTable({}, true);
    EXPECT_EQ(ReadBE32(vmg->Data(), ifo::kMenuCAdt), 0u);
}

TEST(CellPositions, FirstMapRecordWinsAndUnknownPairsStay) {
    TempDir dir;
    VtsSpec vts;
    vts.menuUnits = {{{Cell(1, 1, 0, 0, 9), Cell(4, 4, 10, 10, 19)}}};
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    std::vector<VcidMapEntry> map = {{1, 1, 2, 5}, {1, 1, 3, 6}};
    ifo->RemapCellPositions({map.data(), 2}, true);
    EXPECT_TRUE(ifo->IsVcidReferenced(2, 5, true));
    EXPECT_TRUE(ifo->IsVcidReferenced(4, 4, true));
    EXPECT_FALSE(ifo->IsVcidReferenced(3, 6, true));
    EXPECT_TRUE(ifo->IsVcidReferenced(1, 1, false));  // the title domain was not touched
    EXPECT_FALSE(ifo->IsVcidReferenced(257, 1, false));
}

}  // namespace
}  // namespace dorvex::testkit
