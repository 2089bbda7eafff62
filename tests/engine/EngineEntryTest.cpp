#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/TempDir.h"
#include "engine/PackInfo.h"
#include "engine/VtsCleaner.h"

namespace dorvex {
namespace {

class EngineEntry : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_Temp.Path().empty()); }

    std::string Make(const std::string& name, int64_t size) {
        std::string path = m_Temp / name;
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        fclose(f);
        EXPECT_EQ(truncate(path.c_str(), size), 0);
        return path;
    }

    testkit::TempDir m_Temp;
    CVtsCleaner m_Engine;
};

TEST_F(EngineEntry, OpenMovesToTheFirstTitleVob) {
    std::string path = Make("VTS_03_4.VOB", 2048);
    g_nVideoStandard = kStandardPal;
    EXPECT_EQ(m_Engine.Open(path), 0);
    EXPECT_EQ(m_Engine.m_VobPath, m_Temp / "VTS_03_1.VOB");
    EXPECT_EQ(m_Engine.m_Menu, 0);
    EXPECT_EQ(g_nVideoStandard, kStandardUnknown);
}

TEST_F(EngineEntry, OpenSelectsTheMenuDomain) {
    std::string menu = Make("vts_03_0.vob", 2048);
    EXPECT_EQ(m_Engine.Open(menu), 0);
    EXPECT_EQ(m_Engine.m_VobPath, menu);
    EXPECT_EQ(m_Engine.m_Menu, 1);

    std::string vmg = Make("VIDEO_TS.VOB", 2048);
    EXPECT_EQ(m_Engine.Open(vmg), 0);
    EXPECT_EQ(m_Engine.m_VobPath, vmg);
    EXPECT_EQ(m_Engine.m_Menu, 1);
}

TEST_F(EngineEntry, OpenRefusesOtherExtensionsAndMissingFiles) {
    std::string good = Make("VTS_01_1.VOB", 2048);
    ASSERT_EQ(m_Engine.Open(good), 0);
    EXPECT_EQ(m_Engine.Open(Make("VTS_01_0.IFO", 2048)), -1);
    EXPECT_EQ(m_Engine.Open(m_Temp / "VTS_01_2.VOB"), -1);
    EXPECT_EQ(m_Engine.m_VobPath, good);
    EXPECT_EQ(m_Engine.Open(m_Temp / ""), -1);
}

TEST_F(EngineEntry, NextVobFileSkipsGapsAndTinyFiles) {
    Make("VTS_01_1.VOB", 4096);
    Make("VTS_01_2.VOB", 1000);  // under one KiB: passed over like a missing file
    Make("VTS_01_3.VOB", 4096);
    ASSERT_EQ(m_Engine.Open(m_Temp / "VTS_01_1.VOB"), 0);

    std::string path = m_Engine.m_VobPath;
    ASSERT_TRUE(m_Engine.NextVobFile(path, true));
    EXPECT_EQ(path, m_Temp / "VTS_01_3.VOB");
    EXPECT_FALSE(m_Engine.NextVobFile(path, true));
    EXPECT_EQ(path, m_Temp / "VTS_01_9.VOB");
    EXPECT_FALSE(m_Engine.NextVobFile(path, false));  // already at 9: nothing changes
    EXPECT_EQ(path, m_Temp / "VTS_01_9.VOB");

    path = m_Temp / "VTS_01_3.VOB";
    ASSERT_TRUE(m_Engine.NextVobFile(path, false));  // steps even to a missing file
    EXPECT_EQ(path, m_Temp / "VTS_01_4.VOB");
}

TEST_F(EngineEntry, NextVobFileNeverStepsInTheMenuDomain) {
    std::string menu = Make("VTS_01_0.VOB", 4096);
    Make("VTS_01_1.VOB", 4096);
    ASSERT_EQ(m_Engine.Open(menu), 0);
    std::string path = menu;
    EXPECT_FALSE(m_Engine.NextVobFile(path, false));
    EXPECT_EQ(path, menu);
}

TEST_F(EngineEntry, TotalSectorsCountsEveryNonEmptyFileAbove4GiB) {
    Make("VTS_01_1.VOB", 5LL * 1024 * 1024 * 1024);
    Make("VTS_01_3.VOB", 10 * 2048 + 100);
    Make("VTS_01_4.VOB", 1000);
    ASSERT_EQ(m_Engine.Open(m_Temp / "VTS_01_1.VOB"), 0);
    EXPECT_EQ(m_Engine.GetTotalSectors(), 5u * 512 * 1024 + 10);
    EXPECT_EQ(m_Engine.m_VobPath, m_Temp / "VTS_01_1.VOB");

    std::string menu = Make("VTS_01_0.VOB", 3 * 2048);
    ASSERT_EQ(m_Engine.Open(menu), 0);
    EXPECT_EQ(m_Engine.GetTotalSectors(), 3u);
}

TEST_F(EngineEntry, ResetRunStateClearsCountersAndCellNumbering) {
    m_Engine.m_WrittenTotal = 5;
    m_Engine.m_ReadTotal = 6;
    m_Engine.m_PacksRemoved = 7;
    m_Engine.m_PrevNavFwd = 12;
    m_Engine.m_MapCount = 3;
    m_Engine.m_NextVobId = 9;
    m_Engine.m_CellCounters[65535] = 44;
    m_Engine.m_Dropping = 1;
    m_Engine.ResetRunState();
    EXPECT_EQ(m_Engine.m_WrittenTotal, 0);
    EXPECT_EQ(m_Engine.m_ReadTotal.load(), 0);
    EXPECT_EQ(m_Engine.m_PacksRemoved.load(), 0);
    EXPECT_EQ(m_Engine.m_PrevNavFwd, -1);
    EXPECT_EQ(m_Engine.m_MapCount, 0);
    EXPECT_EQ(m_Engine.m_NextVobId, 1);
    EXPECT_EQ(m_Engine.m_CellCounters[65535], 1);
    EXPECT_EQ(m_Engine.m_Dropping, 0);
}

}  // namespace
}  // namespace dorvex
