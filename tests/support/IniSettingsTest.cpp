#include "support/IniSettings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "common/TempDir.h"

namespace dorvex {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class FakeWindow : public IWindowPlacement {
  public:
    bool GetRect(int32_t& x, int32_t& y, int32_t& w, int32_t& h) override {
        x = m_X, y = m_Y, w = m_W, h = m_H;
        return m_Readable;
    }
    void Place(int32_t x, int32_t y, int32_t w, int32_t h, bool moveOnly) override {
        m_X = x;
        m_Y = y;
        if (!moveOnly) {
            m_W = w;
            m_H = h;
        }
        ++m_Placed;
    }
    int32_t m_X = 5, m_Y = 6, m_W = 300, m_H = 200;
    int m_Placed = 0;
    bool m_Readable = true;
};

class IniSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"APPDATA", "XDG_CONFIG_HOME", "HOME"}) {
            const char* value = getenv(name);
            m_Saved.push_back(value ? std::make_pair(true, std::string(value))
                                    : std::make_pair(false, std::string()));
        }
        setenv("APPDATA", m_Dir.Path().c_str(), 1);
    }
    void TearDown() override {
        const char* names[] = {"APPDATA", "XDG_CONFIG_HOME", "HOME"};
        for (size_t i = 0; i < 3; ++i) {
            if (m_Saved[i].first) {
                setenv(names[i], m_Saved[i].second.c_str(), 1);
            } else {
                unsetenv(names[i]);
            }
        }
    }
    testkit::TempDir m_Dir;
    std::vector<std::pair<bool, std::string>> m_Saved;
};

TEST_F(IniSettingsTest, MissingFileGivesDefaultsAndSaveWritesBindingOrder) {
    CIniSettings settings;
    EXPECT_EQ(settings.Path(), m_Dir / "dorvex.ini");
    FakeWindow window;
    int32_t remove = 0, inPlace = 7;
    EXPECT_EQ(settings.BindWindow(&window, "MainWindowPos", true), 1);
    EXPECT_EQ(settings.BindInt(&remove, "RemoveUnrefed", 1), 2);
    EXPECT_EQ(settings.BindInt(&inPlace, "InPlaceProcess", 0), 3);
    EXPECT_EQ(window.m_Placed, 0);  // "0 0 0 0": no placement
    EXPECT_EQ(remove, 1);
    EXPECT_EQ(inPlace, 0);

    inPlace = 1;
    window.m_X = -3;
    ASSERT_TRUE(settings.SaveAll());
    EXPECT_EQ(ReadAll(settings.Path()),
              "[dorvex]\nMainWindowPos = -3 6 300 200\nRemoveUnrefed = 1\nInPlaceProcess = 1\n");
}

TEST_F(IniSettingsTest, StoredValuesAreReadAndPlacementIsClamped) {
    std::ofstream(m_Dir / "dorvex.ini")
        << "[dorvex]\nMainWindowPos=-10 20 400 300\nRemapVOBIDs=0\nFixPGCLBAs=x\n";
    CIniSettings settings;
    FakeWindow window;
    int32_t remap = 1, fix = 9;
    settings.BindWindow(&window, "MainWindowPos", true);
    settings.BindInt(&remap, "RemapVOBIDs", 1);
    settings.BindInt(&fix, "FixPGCLBAs", 1);
    EXPECT_EQ(window.m_X, 0);
    EXPECT_EQ(window.m_Y, 20);
    EXPECT_EQ(window.m_W, 300);  // move only: the size stays
    EXPECT_EQ(remap, 0);
    EXPECT_EQ(fix, 1);  // unreadable: the default
}

TEST_F(IniSettingsTest, ZeroWidthLeavesTheWindowAndUnreadableRectWritesNothing) {
    std::ofstream(m_Dir / "dorvex.ini") << "[dorvex]\nMainWindowPos=10 20 0 300\n";
    CIniSettings settings;
    FakeWindow window;
    settings.BindWindow(&window, "MainWindowPos", true);
    EXPECT_EQ(window.m_Placed, 0);
    window.m_Readable = false;
    ASSERT_TRUE(settings.SaveAll());
    EXPECT_EQ(ReadAll(settings.Path()), "[dorvex]\nMainWindowPos = 10 20 0 300\n");
}

TEST_F(IniSettingsTest, FallsBackToXdgThenHomeConfig) {
    setenv("APPDATA", (m_Dir / "missing").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_Dir / "xdg").c_str(), 1);
    EXPECT_EQ(CIniSettings().Path(), m_Dir / "xdg/dorvex.ini");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", m_Dir.Path().c_str(), 1);
    CIniSettings settings;
    EXPECT_EQ(settings.Path(), m_Dir / ".config/dorvex.ini");
    int32_t value = 3;
    settings.BindInt(&value, "BackupAbove", 0);
    EXPECT_TRUE(settings.SaveAll());  // creates ~/.config
    EXPECT_EQ(ReadAll(settings.Path()), "[dorvex]\nBackupAbove = 0\n");
}

}  // namespace
}  // namespace dorvex
