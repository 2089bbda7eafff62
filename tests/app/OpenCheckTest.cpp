#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/core/OpenCheck.h"
#include "common/TempDir.h"

namespace dorvex {
namespace {

TEST(ProcessableTitleTest, FollowsTheScanPatternOfTwoUnderscoredNumbers) {
    for (const char* title : {"VTS_01_1", "vts_1_2", "A_3_4", "A_3_4extra", "A_-3_+4", "A_ 3_ 4",
                              "VTS_01_1_x", "VIDEO_TS", "video_ts", "Video_Ts",
                              // A number too long for an int must not overflow inside the check.
                              "A_99999999999999999999999_1"}) {
        EXPECT_TRUE(IsProcessableTitle(title)) << title;
    }
    for (const char* title : {"", "VTS", "VTS_01", "VTS_01_", "_01_1", "A__1_2", "A_x_1", "A_3 _4",
                              "A_3_x", "A_-_1", "VIDEO_TS2", "VTS_01.1"}) {
        EXPECT_FALSE(IsProcessableTitle(title)) << title;
    }
}

TEST(ProcessableTitleTest, AgreesWithTheScanfPatternItReplaces) {
    for (const char* title : {"VTS_01_1", "A_3_4extra", "A_-3_+4", "A_ 3_ 4", "\t_1_2", "A_3 _4",
                              "A_+_1", "x_1_-", "x_1_ 7", "x_1__7", "__1_2", "a b_1_2", "VTS"}) {
        int first = 0;
        int second = 0;
        bool scanned = sscanf(title, "%*[^_]_%d_%d", &first, &second) == 2;
        EXPECT_EQ(IsProcessableTitle(title), scanned) << title;
    }
}

class CheckedOpenTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_Temp.Path().empty()); }

    std::string Make(const std::string& name) {
        std::string path = m_Temp / name;
        FILE* file = fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        std::vector<char> pack(2048, 0);
        fwrite(pack.data(), 1, pack.size(), file);
        fclose(file);
        return path;
    }

    int32_t Open(const std::string& path, bool commandLine) {
        return CheckedOpen(m_Engine, path, commandLine,
                           [this](const std::string& text) { m_Messages.push_back(text); });
    }

    testkit::TempDir m_Temp;
    CVtsCleaner m_Engine;
    std::vector<std::string> m_Messages;
};

TEST_F(CheckedOpenTest, TitleVobIsAcceptedAsTheFirstVobOfItsSet) {
    Make("VTS_01_1.VOB");
    EXPECT_EQ(Open(Make("VTS_01_3.VOB"), true), 0);
    EXPECT_EQ(m_Engine.m_VobPath, m_Temp / "VTS_01_1.VOB");
    EXPECT_EQ(m_Engine.m_Menu, 0);
    EXPECT_TRUE(m_Messages.empty());
}

TEST_F(CheckedOpenTest, VideoManagerAndAnyWordNumberNumberTitleAreAccepted) {
    std::string vmg = Make("VIDEO_TS.VOB");
    EXPECT_EQ(Open(vmg, false), 0);
    EXPECT_EQ(m_Engine.m_VobPath, vmg);
    EXPECT_EQ(m_Engine.m_Menu, 1);

    EXPECT_EQ(Open(Make("A_3_4.VOB"), false), 0);
    EXPECT_EQ(m_Engine.m_VobPath, m_Temp / "A_3_1.VOB");
    EXPECT_TRUE(m_Messages.empty());
}

TEST_F(CheckedOpenTest, IfoPassesTheNameCheckButIsRefusedWithTheModeMessage) {
    std::string ifo = Make("VTS_01_0.IFO");
    EXPECT_EQ(Open(ifo, false), -1);
    EXPECT_EQ(Open(ifo, true), -1);
    EXPECT_EQ(Open(m_Temp / "VTS_02_1.VOB", true), -1);  // missing
    ASSERT_EQ(m_Messages.size(), 3u);
    EXPECT_EQ(m_Messages[0], "Please, drag/drop a VOB file");
    EXPECT_EQ(m_Messages[1], "Couldn't open input file, exiting");
    EXPECT_EQ(m_Messages[2], "Couldn't open input file, exiting");
}

TEST_F(CheckedOpenTest, BadTitleIsRefusedAndTheCurrentFileStays) {
    ASSERT_EQ(Open(Make("VTS_05_2.VOB"), false), 0);
    std::string current = m_Engine.m_VobPath;

    EXPECT_EQ(Open(Make("MOVIE.VOB"), false), -1);
    EXPECT_EQ(Open(Make("VTS_01.VOB"), true), -1);
    ASSERT_EQ(m_Messages.size(), 2u);
    EXPECT_EQ(m_Messages[0], "Dorvex can only process title vobs (VTS_xx_[1-10].VOB)");
    EXPECT_EQ(m_Messages[1], "Dorvex can only process title vobs (VTS_xx_[1-10].VOB)");
    EXPECT_EQ(m_Engine.m_VobPath, current);
    EXPECT_EQ(m_Engine.m_Menu, 0);
}

// A dialog engine checks names in its own Open; the check must reach the base Open, not loop.
class DialogLikeEngine : public CVtsCleaner {
  public:
    int32_t Open(const std::string& path) override {
        ++m_Calls;
        return CheckedOpen(*this, path, false, [](const std::string&) {});
    }
    int m_Calls = 0;
};

TEST_F(CheckedOpenTest, UsesTheBaseOpenSoAnOverrideMayCallIt) {
    DialogLikeEngine engine;
    std::string path = Make("VTS_07_2.VOB");
    EXPECT_EQ(engine.Open(path), 0);
    EXPECT_EQ(engine.m_Calls, 1);
    EXPECT_EQ(engine.m_VobPath, m_Temp / "VTS_07_1.VOB");
}

}  // namespace
}  // namespace dorvex
