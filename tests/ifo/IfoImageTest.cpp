#include <gtest/gtest.h>

#include "IfoTestSupport.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {
namespace {

uint32_t Field(CIfoFile& ifo, int32_t offset) {
    return ReadBE32(ifo.Data(), offset);
}

VtsSpec SmallVts() {
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 10, 19), Cell(1, 2, 20, 20, 29)}};
    vts.titleCAdt = CAdtFromPgcs(vts.titlePgcs);
    vts.titleAdmap = {0, 10, 20};
    vts.timeMaps = {{1, {0, 10}}};
    return vts;
}

TEST(IfoLoad, NamesAndKinds) {
    TempDir dir;
    auto vts = LoadImage(dir, "vts_05_0.ifo", BuildVtsIfo(SmallVts()));
    EXPECT_TRUE(vts->m_bLoaded);
    EXPECT_EQ(vts->m_nTitleSet, 5);
    EXPECT_FALSE(vts->m_bVmg);
    EXPECT_EQ(vts->m_nCapacity, (vts->m_nSizeKB + 200) * 1024);

    auto vmg = LoadImage(dir, "video_ts.ifo", BuildVmgIfo(VmgSpec{}));
    EXPECT_TRUE(vmg->m_bLoaded);
    EXPECT_TRUE(vmg->m_bVmg);
    EXPECT_EQ(vmg->m_nTitleSet, 0);

    CIfoFile missing(dir / "VTS_07_0.IFO");
    EXPECT_FALSE(missing.m_bLoaded);
    EXPECT_EQ(missing.m_nSizeKB, 0);
}

TEST(IfoTables, DirectoryFindsTablesByKind) {
    TempDir dir;
    auto vts = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(SmallVts()));
    EXPECT_EQ(vts->GetTable(IfoHeader), vts->Data());
    ASSERT_NE(vts->GetTable(IfoVtsCAdt), nullptr);
    EXPECT_EQ(vts->GetTable(IfoVtsCAdt) - vts->Data(), Field(*vts, ifo::kVtsCAdt) * 2048);
    EXPECT_EQ(vts->GetTable(IfoMenuPgciUt), nullptr);  // field 208 is 0 without menus
    EXPECT_EQ(vts->GetTable(15), nullptr);
    EXPECT_EQ(vts->GetTable(-1), nullptr);
    EXPECT_EQ(vts->GetTableEnd(IfoVtsCAdt), 8u + 2 * 12 - 1);
    EXPECT_EQ(vts->GetTableEnd(IfoVtsVobuAdmap), 4u + 3 * 4 - 1);  // admaps: end address at 0
    EXPECT_EQ(vts->GetTableEnd(IfoMenuCAdt), 0u);
    EXPECT_EQ(vts->GetTableEndOffset(IfoMenuCAdt), 0u);
    EXPECT_EQ(vts->GetTableEndOffset(IfoVtsCAdt), Field(*vts, ifo::kVtsCAdt) * 2048 + 31);
}

TEST(IfoTables, TableFitsOnlyWithinTheLastSector) {
    TempDir dir;
    auto vts = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(SmallVts()));
    const int32_t end = static_cast<int32_t>(vts->GetTableEnd(IfoVtsCAdt));  // 31
    EXPECT_TRUE(vts->TableFits(IfoVtsCAdt, 2047 - end));
    EXPECT_FALSE(vts->TableFits(IfoVtsCAdt, 2048 - end));
    EXPECT_TRUE(vts->TableFits(IfoVtsCAdt, -24));
    EXPECT_FALSE(vts->TableFits(IfoVtsPttSrpt, 0));  // never resized
    EXPECT_FALSE(vts->TableFits(IfoMenuCAdt, 0));    // absent
}

TEST(IfoResize, GrowingMovesOnlyTheTablesBehind) {
    TempDir dir;
    auto vts = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(SmallVts()));
    const uint32_t before[] = {Field(*vts, 200), Field(*vts, 204), Field(*vts, 212),
                               Field(*vts, 224), Field(*vts, 228)};
    const int32_t sizeKB = vts->m_nSizeKB;
    const uint32_t admapSector = Field(*vts, ifo::kVtsVobuAdmap);
    const std::vector<uint8_t> admapBytes(vts->Data() + admapSector * 2048,
                                          vts->Data() + admapSector * 2048 + 16);
    WriteBE32(vts->Data(), 196, 1234);  // a title VOB start sector, never a table here

    vts->ResizeTable(IfoVtsCAdt, 2048);

    EXPECT_EQ(Field(*vts, 200), before[0]);
    EXPECT_EQ(Field(*vts, 204), before[1]);
    EXPECT_EQ(Field(*vts, 212), before[2]);
    EXPECT_EQ(Field(*vts, 224), before[3]);
    EXPECT_EQ(Field(*vts, 228), before[4] + 1);
    EXPECT_EQ(Field(*vts, 196), 1234u);
    EXPECT_EQ(vts->m_nSizeKB, sizeKB + 2);
    const uint8_t* moved = vts->Data() + (admapSector + 1) * 2048;
    EXPECT_EQ(std::vector<uint8_t>(moved, moved + 16), admapBytes);

    vts->ResizeTable(IfoVtsCAdt, 16);  // still fits: nothing changes
    EXPECT_EQ(Field(*vts, 228), before[4] + 1);
}

TEST(IfoResize, ShrinkingSubtractsFromEveryLaterField) {
    TempDir dir;
    VtsSpec plan = SmallVts();
    for (uint32_t i = 0; i < 1200; ++i) {  // an address map of three sectors
        plan.titleAdmap.push_back(30 + i);
    }
    plan.menuTables = true;
    auto vts = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(plan));
    // Make the title address map sit before the menu tables, to see both moves.
    const uint32_t cadt = Field(*vts, 224);
    const uint32_t admap = Field(*vts, 228);
    const int32_t sizeKB = vts->m_nSizeKB;
    const uint32_t end = vts->GetTableEnd(IfoVtsVobuAdmap);
    ASSERT_EQ(end / 2048, 2u);

    vts->ResizeTable(IfoVtsVobuAdmap, -static_cast<int32_t>(end) + 3);

    EXPECT_EQ(Field(*vts, 224), cadt);
    EXPECT_EQ(Field(*vts, 228), admap);
    EXPECT_EQ(vts->m_nSizeKB, sizeKB - 4);

    // A table before others: its followers move back by the freed sectors.
    const uint32_t menuCAdt = Field(*vts, 216);
    const uint32_t menuAdmap = Field(*vts, 220);
    const uint32_t tmaptEnd = vts->GetTableEnd(IfoVtsTmapt);
    vts->ResizeTable(IfoVtsTmapt, 4096);
    WriteBE32(vts->GetTable(IfoVtsTmapt), 4, tmaptEnd + 4096);  // the caller's part
    EXPECT_EQ(Field(*vts, 216), menuCAdt + 2);
    EXPECT_EQ(Field(*vts, 220), menuAdmap + 2);
    vts->ResizeTable(IfoVtsTmapt, -4096);
    EXPECT_EQ(Field(*vts, 216), menuCAdt);
    EXPECT_EQ(Field(*vts, 220), menuAdmap);
}

TEST(IfoResize, TtSrptFieldMovesOnlyInVideoManagerWhenBehind) {
    TempDir dir;
    VmgSpec plan;
    plan.titles = {{1, 1, 0}};
    plan.menuUnits = {{{Cell(1, 1, 0, 0, 5)}}};
    auto vmg = LoadImage(dir, "VIDEO_TS.IFO", BuildVmgIfo(plan));
    const uint32_t ttSrpt = Field(*vmg, 196);
    const uint32_t pgciUt = Field(*vmg, 200);
    ASSERT_LT(ttSrpt, pgciUt);  // the builder puts TT_SRPT first
    vmg->ResizeTable(IfoMenuPgciUt, 4096);
    EXPECT_EQ(Field(*vmg, 196), ttSrpt);
    EXPECT_EQ(Field(*vmg, 200), pgciUt);
    EXPECT_EQ(Field(*vmg, 204), pgciUt + 1 + 2);  // PTL_MAIT lay behind: moved

    // Put TT_SRPT behind the unit table: now it moves.
    WriteBE32(vmg->Data(), 196, pgciUt + 3);
    vmg->ResizeTable(IfoMenuPgciUt, 2048);
    EXPECT_EQ(Field(*vmg, 196), pgciUt + 4);
}

TEST(IfoResize, GrowthBeyondTheRoomGrowsTheBuffer) {
    TempDir dir;
    auto vts = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(SmallVts()));
    const int32_t capacity = vts->m_nCapacity;
    const uint32_t admap = Field(*vts, 228);
    vts->ResizeTable(IfoVtsCAdt, 300 * 1024);
    EXPECT_GT(vts->m_nCapacity, capacity);
    EXPECT_EQ(Field(*vts, 228), admap + 150);
    EXPECT_LE(vts->ImageSize(), static_cast<int32_t>(vts->m_pData.size()));
    // The moved address map is intact at its new place.
    EXPECT_EQ(ReadBE32(vts->GetTable(IfoVtsVobuAdmap), 0), 15u);
}

TEST(IfoSave, WritesTheImageAndItsBupTwin) {
    TempDir dir;
    auto vts = LoadImage(dir, "VTS_03_0.IFO", BuildVtsIfo(SmallVts()));
    WriteBE32(vts->Data(), 12, 0xABCDEF01);
    vts->ResizeTable(IfoVtsVobuAdmap, 4096);
    ASSERT_EQ(vts->Save(dir / "VTS_03_0.IFO"), 0);
    std::vector<uint8_t> ifo = ReadBytes(dir / "VTS_03_0.IFO");
    EXPECT_EQ(ifo, ReadBytes(dir / "VTS_03_0.BUP"));
    EXPECT_EQ(ifo.size(), static_cast<size_t>(vts->ImageSize()));
    EXPECT_EQ(ReadBE32(ifo.data(), 12), 0xABCDEF01u);

    EXPECT_EQ(vts->Save(dir / "missing-folder/VTS_03_0.IFO"), -1);
}

TEST(IfoMalformed, RefusedAtLoadWithOneLine) {
    TempDir dir;
    LogCapture log;
    std::vector<uint8_t> good = BuildVtsIfo(SmallVts());

    std::vector<uint8_t> truncated(good.begin(), good.begin() + 1024);
    CIfoFile* tooShort = LoadImage(dir, "VTS_01_0.IFO", truncated).release();
    EXPECT_FALSE(tooShort->m_bLoaded);
    delete tooShort;

    std::vector<uint8_t> pointerPastEnd = good;
    WriteBE32(pointerPastEnd.data(), ifo::kVtsCAdt, 0x00FFFFFF);
    EXPECT_FALSE(LoadImage(dir, "VTS_01_0.IFO", pointerPastEnd)->m_bLoaded);

    std::vector<uint8_t> hugeEnd = good;
    const uint32_t cadt = ReadBE32(good.data(), ifo::kVtsCAdt) * 2048;
    WriteBE32(hugeEnd.data(), static_cast<int32_t>(cadt + 4), 0xFFFFFFF0u);
    EXPECT_FALSE(LoadImage(dir, "VTS_01_0.IFO", hugeEnd)->m_bLoaded);

    std::vector<uint8_t> hugeAdmap = good;
    const uint32_t admap = ReadBE32(good.data(), ifo::kVtsVobuAdmap) * 2048;
    WriteBE32(hugeAdmap.data(), static_cast<int32_t>(admap), 0x7FFFFFFFu);
    EXPECT_FALSE(LoadImage(dir, "VTS_01_0.IFO", hugeAdmap)->m_bLoaded);

    ASSERT_EQ(log.Lines().size(), 4u);
    EXPECT_EQ(log.Lines()[0].rfind("IFO file " + (dir / "VTS_01_0.IFO") + " is damaged: ", 0), 0u);
}

TEST(IfoMalformed, NestedStructuresOutOfRangeCountAsAbsent) {
    TempDir dir;
    VtsSpec plan = SmallVts();
    plan.menuUnits = {{{Cell(1, 1, 0, 0, 3)}}};
    std::vector<uint8_t> image = BuildVtsIfo(plan);
    const uint32_t pgcit = ReadBE32(image.data(), ifo::kPgcitOrPtlMait) * 2048;
    const uint32_t pgciUt = ReadBE32(image.data(), ifo::kVtsmPgciUtOrVtsAtrt) * 2048;
    WriteBE16(image.data(), static_cast<int32_t>(pgcit), 500);              // PGCs beyond the table
    WriteBE32(image.data(), static_cast<int32_t>(pgcit + 12), 0x7FFFFFF0);  // PGC 1 far away
    WriteBE16(image.data(), static_cast<int32_t>(pgciUt), 9000);            // language units
    WriteBE32(image.data(), static_cast<int32_t>(pgciUt + 12), 0x7FFFFFF0);  // unit 1 far away
    LogCapture log;
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", image);
    ASSERT_TRUE(ifo->m_bLoaded);
    EXPECT_EQ(ifo->GetPgc(0, 1), nullptr);
    EXPECT_EQ(ifo->GetCellCount(0, 1), 0);
    EXPECT_EQ(ifo->GetLanguageUnit(1), nullptr);
    EXPECT_EQ(ifo->GetPgcCount(1), 0);
    EXPECT_FALSE(ifo->IsVcidReferenced(1, 9, true));

    // Every repair step walks these tables without leaving the image.
    std::vector<CellTableEntry> cells = {{1, 1, 0, 19}};
    std::vector<VcidMapEntry> map = {{1, 1, 1, 1}};
    const int32_t oldList[] = {0, 10, 20, 30};
    const int32_t newList[] = {0, 10, 20, 30};
    ifo->RemapCellPositions({map.data(), 1}, true);
    ifo->RebuildCellAddressTable({cells.data(), 1}, true);
    ifo->UpdateCellSectors(NavpackMap::WithEndEntry(oldList, newList, 4), true);
    ifo->UpdateCellSectors(NavpackMap::WithEndEntry(oldList, newList, 4), false);
    ifo->CheckPgcSectors({cells.data(), 1}, true);
    ifo->RebuildTimeMaps(NavpackMap::WithEndEntry(oldList, newList, 4));
    for (uint16_t pgcn = 1; pgcn <= 3; ++pgcn) {
        ifo->UpdatePgcPlaybackTime(0, pgcn, true, false);
    }
    ifo->UpdateSizeFields(false);
}

TEST(IfoMalformed, HugeCellCountsAndTableOffsetsStayInside) {
    TempDir dir;
    std::vector<uint8_t> image = BuildVtsIfo(SmallVts());
    const uint32_t pgcit = ReadBE32(image.data(), ifo::kPgcitOrPtlMait) * 2048;
    const uint32_t pgc = pgcit + ReadBE32(image.data(), static_cast<int32_t>(pgcit + 12));
    image[pgc + 3] = 255;                                              // cells
    WriteBE16(image.data(), static_cast<int32_t>(pgc + 234), 0xFFF0);  // position table offset
    const uint32_t tmapt = ReadBE32(image.data(), ifo::kTmaptOrTxtdt) * 2048;
    WriteBE16(image.data(), static_cast<int32_t>(tmapt), 60000);  // time maps
    LogCapture log;
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", image);
    ASSERT_TRUE(ifo->m_bLoaded);
    EXPECT_EQ(ifo->GetCellPosition(0, 1, 1), nullptr);
    EXPECT_NE(ifo->GetCellPlayback(0, 1, 1), nullptr);
    const int32_t oldList[] = {0, 10, 20, 30};
    const int32_t newList[] = {0, 10, 20, 30};
    ifo->UpdateCellSectors(NavpackMap::WithEndEntry(oldList, newList, 4), false);
    ifo->RebuildTimeMaps(NavpackMap::WithEndEntry(oldList, newList, 4));
    ifo->UpdatePgcPlaybackTime(0, 1, true, false);
    EXPECT_FALSE(ifo->IsVcidReferenced(1, 1, false));
}

}  // namespace
}  // namespace dorvex::testkit
