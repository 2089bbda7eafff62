#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/TempDir.h"
#include "engine/VtsCleaner.h"
#include "support/Paths.h"

namespace dorvex {
namespace {

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class BackupPath : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_Temp.Path().empty());
        ASSERT_EQ(::mkdir((m_Temp / "DVD").c_str(), 0777), 0);
        ASSERT_EQ(::mkdir((m_Temp / "DVD/VIDEO_TS").c_str(), 0777), 0);
    }

    testkit::TempDir m_Temp;
    CVtsCleaner m_Engine;
};

TEST_F(BackupPath, BesideTheFilesTheFolderIsMadeInsideVideoTs) {
    std::string path = m_Engine.GetBackupPath(m_Temp / "DVD/VIDEO_TS/VTS_01_1.VOB");
    EXPECT_EQ(path, m_Temp / "DVD/VIDEO_TS/DorvexBackup/VTS_01_1.VOB");
    EXPECT_TRUE(IsDirectory(m_Temp / "DVD/VIDEO_TS/DorvexBackup"));
    EXPECT_FALSE(IsDirectory(m_Temp / "DVD/DorvexBackup"));
}

TEST_F(BackupPath, AboveTheFilesTheFolderIsMadeNextToVideoTs) {
    m_Engine.m_BackupAbove = 1;
    std::string path = m_Engine.GetBackupPath(m_Temp / "DVD/VIDEO_TS/VIDEO_TS.IFO");
    EXPECT_EQ(path, m_Temp / "DVD/DorvexBackup/VIDEO_TS.IFO");
    EXPECT_TRUE(IsDirectory(m_Temp / "DVD/DorvexBackup"));
    EXPECT_FALSE(IsDirectory(m_Temp / "DVD/VIDEO_TS/DorvexBackup"));
}

TEST_F(BackupPath, AnExistingFolderIsReusedAndItsFilesKept) {
    std::string first = m_Engine.GetBackupPath(m_Temp / "DVD/VIDEO_TS/VTS_01_1.VOB");
    ASSERT_TRUE(IsDirectory(m_Temp / "DVD/VIDEO_TS/DorvexBackup"));
    FILE* f = fopen(first.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(m_Engine.GetBackupPath(m_Temp / "DVD/VIDEO_TS/VTS_01_2.VOB"),
              m_Temp / "DVD/VIDEO_TS/DorvexBackup/VTS_01_2.VOB");
    EXPECT_TRUE(FileExists(first));
}

}  // namespace
}  // namespace dorvex
