#include <gtest/gtest.h>
#include <unistd.h>

#include "IfoTestSupport.h"
#include "common/FaultyFileSystem.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {
namespace {

void MakeSparse(const std::string& path, int64_t sectors) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    ASSERT_EQ(truncate(path.c_str(), sectors * 2048), 0);
}

uint32_t Field(CIfoFile& ifo, int32_t offset) {
    return ReadBE32(ifo.Data(), offset);
}

TEST(SizeFields, TitleSetFieldsFromTablesAndFiles) {
    TempDir dir;
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    vts.titleAdmap = {0};
    std::vector<uint8_t> image = BuildVtsIfo(vts);
    image.resize(image.size() + 3 * 2048);  // stale sectors behind the last table
    auto ifo = LoadImage(dir, "VTS_02_0.IFO", image);
    const uint32_t b = ifo->GetTableEndOffset(IfoVtsVobuAdmap) / 2048;
    MakeSparse(dir / "VTS_02_0.VOB", 10000);
    MakeSparse(dir / "VTS_02_1.VOB", 500000);
    MakeSparse(dir / "VTS_02_3.VOB", 200000);  // every part is looked at, gaps or not

    ifo->UpdateSizeFields(false);

    EXPECT_EQ(Field(*ifo, ifo::kLastSectorOfIfo), b);
    EXPECT_EQ(ifo->m_nSizeKB, static_cast<int32_t>(2 * (b + 1)));
    EXPECT_EQ(Field(*ifo, ifo::kMenuVobsSector), b + 1);
    EXPECT_EQ(Field(*ifo, ifo::kTitleVobsOrTtSrpt), b + 1 + 10000);
    EXPECT_EQ(Field(*ifo, ifo::kLastSectorOfSet), 2 * (b + 1) + 10000 + 700000 - 1);
}

TEST(SizeFields, TitleSetWithoutMenuVobHasNoMenuStartSector) {
    TempDir dir;
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 0, 9)}};
    vts.titleAdmap = {0};
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(vts));
    const uint32_t b = ifo->GetTableEndOffset(IfoVtsVobuAdmap) / 2048;
    MakeSparse(dir / "VTS_01_0.VOB", 0);  // an empty menu VOB counts as none
    MakeSparse(dir / "VTS_01_1.VOB", 300);

    ifo->UpdateSizeFields(false);

    EXPECT_EQ(Field(*ifo, ifo::kMenuVobsSector), 0u);
    EXPECT_EQ(Field(*ifo, ifo::kTitleVobsOrTtSrpt), b + 1);
    EXPECT_EQ(Field(*ifo, ifo::kLastSectorOfSet), 2 * (b + 1) + 300 - 1);
}

class VideoManager : public ::testing::Test {
  protected:
    std::unique_ptr<CIfoFile> Load(uint16_t titleSets, std::vector<TitleSpec> titles,
                                   uint16_t countries = 2) {
        VmgSpec plan;
        plan.titleSets = titleSets;
        plan.titles = std::move(titles);
        plan.ptlCountries = countries;
        return LoadImage(m_Dir, "VIDEO_TS.IFO", BuildVmgIfo(plan));
    }
    void TitleSet(int n, int64_t ifoSectors, int64_t menu, std::vector<int64_t> parts) {
        char name[32];
        snprintf(name, sizeof(name), "VTS_%02d_0.IFO", n);
        MakeSparse(m_Dir / name, ifoSectors);
        if (menu > 0) {
            snprintf(name, sizeof(name), "VTS_%02d_0.VOB", n);
            MakeSparse(m_Dir / name, menu);
        }
        for (size_t p = 0; p < parts.size(); ++p) {
            snprintf(name, sizeof(name), "VTS_%02d_%zu.VOB", n, p + 1);
            MakeSparse(m_Dir / name, parts[p]);
        }
    }
    static uint32_t TitleStart(CIfoFile& ifo, int t) {
        return ReadBE32(ifo.GetTable(IfoTtSrpt), ifo::kTableEntries + t * 12 + 8);
    }
    TempDir m_Dir;
};

// The folder is listed once to see which title sets are there, not once per name of each of 99;
// where it cannot be listed, every title set is asked for by name and the sizes are the same.
TEST_F(VideoManager, StartSectorsSkipMissingTitleSets) {
    for (const bool listingFails : {false, true}) {
        SCOPED_TRACE(listingFails ? "the folder cannot be listed" : "the folder is listed");
        FaultyFileSystem files;
        files.SetListingsFail(listingFails);
        Load(3, {{1, 1, 0}, {3, 1, 0}, {3, 2, 0}});
        CIfoFile vmg(m_Dir / "VIDEO_TS.IFO", files);
        const uint32_t vmgSectors = static_cast<uint32_t>(vmg.m_nSizeKB / 2);
        TitleSet(1, 10, 0, {100, 50});
        TitleSet(3, 12, 20, {300});
        const int64_t listingsBefore = files.Listings();
        vmg.UpdateSizeFields(false);
        EXPECT_EQ(Field(vmg, ifo::kLastSectorOfIfo), vmgSectors - 1);
        EXPECT_EQ(Field(vmg, ifo::kMenuVobsSector), 0u);  // no VIDEO_TS.VOB
        EXPECT_EQ(Field(vmg, ifo::kLastSectorOfSet), 2 * vmgSectors - 1);
        EXPECT_EQ(ReadBE16(vmg.Data(), ifo::kVmgTitleSetCount), 3);
        const uint32_t set1 = 2 * vmgSectors;
        EXPECT_EQ(TitleStart(vmg, 0), set1);
        EXPECT_EQ(TitleStart(vmg, 1), set1 + 2 * 10 + 150);  // set 2 adds nothing
        EXPECT_EQ(TitleStart(vmg, 2), set1 + 2 * 10 + 150);
        if (!listingFails) {
            // The manager's menu VOB looked up, one listing, then eleven names for each of the
            // two title sets there.
            EXPECT_LE(files.Listings() - listingsBefore, 2 + 2 * 11);
        }
    }
}

TEST_F(VideoManager, TitleVobsStopAtTheFirstMissingPart) {
    auto vmg = Load(2, {{2, 1, 0}});
    MakeSparse(m_Dir / "VIDEO_TS.VOB", 30);
    TitleSet(1, 10, 0, {100});
    MakeSparse(m_Dir / "VTS_01_3.VOB", 999);  // after a gap: not counted here
    TitleSet(2, 10, 0, {5});
    vmg->UpdateSizeFields(false);
    const uint32_t vmgSectors = static_cast<uint32_t>(vmg->m_nSizeKB / 2);
    EXPECT_EQ(Field(*vmg, ifo::kMenuVobsSector), vmgSectors);
    EXPECT_EQ(TitleStart(*vmg, 0), 2 * vmgSectors + 30 + 20 + 100);
}

TEST_F(VideoManager, TrimmingCompactsMasksAndTitles) {
    auto vmg = Load(5, {{1, 1, 0}, {4, 1, 0}, {2, 1, 0}, {5, 1, 0}, {3, 1, 0}});
    TitleSet(1, 10, 0, {10});
    TitleSet(2, 10, 0, {10});
    TitleSet(3, 10, 0, {10});
    uint8_t* ptl = vmg->GetTable(IfoVmgPtlMait);
    const uint16_t secondBlock = ReadBE16(ptl, 8 + 8 + 4);
    vmg->UpdateSizeFields(true);

    EXPECT_EQ(ReadBE16(vmg->Data(), ifo::kVmgTitleSetCount), 3);
    ptl = vmg->GetTable(IfoVmgPtlMait);
    EXPECT_EQ(ReadBE16(ptl, 2), 3);
    const uint16_t firstBlock = ReadBE16(ptl, 8 + 4);
    for (int row = 0; row < 8; ++row) {
        for (int col = 0; col < 4; ++col) {
            EXPECT_EQ(ReadBE16(ptl, firstBlock + row * 8 + col * 2), row * 16 + col);
            EXPECT_EQ(ReadBE16(ptl, secondBlock + row * 8 + col * 2), 0x1000 + row * 16 + col);
        }
    }
    EXPECT_EQ(ReadBE32(ptl, 4), static_cast<uint32_t>(secondBlock + 8 * 8 - 1));
    EXPECT_EQ(ReadBE16(vmg->GetTable(IfoVmgVtsAtrt), 0), 3);
    uint8_t* titles = vmg->GetTable(IfoTtSrpt);
    EXPECT_EQ(ReadBE16(titles, 0), 3);
    EXPECT_EQ(ReadBE32(titles, 4), 3u * 12 + 7);
    EXPECT_EQ(titles[8 + 6], 1);
    EXPECT_EQ(titles[8 + 12 + 6], 2);
    EXPECT_EQ(titles[8 + 24 + 6], 3);
}

// A video manager of no title set is one libdvdread no longer opens: a folder holding the video
// manager alone keeps its count, titles and masks, trimmed or not.
TEST_F(VideoManager, WithoutAnyTitleSetNothingIsTrimmed) {
    for (const bool trim : {false, true}) {
        auto vmg = Load(2, {{1, 1, 0}, {2, 1, 0}});
        vmg->UpdateSizeFields(trim);
        EXPECT_EQ(ReadBE16(vmg->Data(), ifo::kVmgTitleSetCount), 2) << trim;
        EXPECT_EQ(ReadBE16(vmg->GetTable(IfoTtSrpt), 0), 2) << trim;
        EXPECT_EQ(ReadBE16(vmg->GetTable(IfoVmgPtlMait), 2), 2) << trim;
        EXPECT_EQ(ReadBE16(vmg->GetTable(IfoVmgVtsAtrt), 0), 2) << trim;
        EXPECT_EQ(TitleStart(*vmg, 1), 0u) << trim;
    }
}

TEST_F(VideoManager, FewerListedTitleSetsOnlyChangeTheCount) {
    auto vmg = Load(2, {{1, 1, 0}, {2, 1, 0}, {3, 1, 0}});
    TitleSet(1, 10, 0, {10});
    TitleSet(3, 10, 0, {10});
    std::vector<uint8_t> before = ImageOf(*vmg);
    vmg->TrimTitleSets(3);
    std::vector<uint8_t> after = ImageOf(*vmg);
    EXPECT_EQ(ReadBE16(after.data(), ifo::kVmgTitleSetCount), 3);
    after[ifo::kVmgTitleSetCount + 1] = before[ifo::kVmgTitleSetCount + 1];
    EXPECT_EQ(after, before);
}

TEST_F(VideoManager, NoCountriesLeaveTheBareHeader) {
    auto vmg = Load(2, {{1, 1, 0}}, 0);
    vmg->TrimTitleSets(1);
    uint8_t* ptl = vmg->GetTable(IfoVmgPtlMait);
    EXPECT_EQ(ReadBE32(ptl, 4), 7u);
    EXPECT_EQ(ReadBE16(ptl, 2), 1);
}

}  // namespace
}  // namespace dorvex::testkit
