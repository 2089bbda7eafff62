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

// Naming a backup path makes nothing: the folder is made by the run that fills it, and Delete
// Backup of a folder that is not there leaves it not there.
TEST_F(BackupPath, BesideTheFilesInsideVideoTsAboveItNextToVideoTsAndNeverMadeByAsking) {
    const std::string vob = m_Temp / "DVD/VIDEO_TS/VTS_01_1.VOB";
    EXPECT_EQ(m_Engine.GetBackupPath(vob), m_Temp / "DVD/VIDEO_TS/DorvexBackup/VTS_01_1.VOB");
    m_Engine.m_BackupAbove = 1;
    EXPECT_EQ(m_Engine.GetBackupPath(m_Temp / "DVD/VIDEO_TS/VIDEO_TS.IFO"),
              m_Temp / "DVD/DorvexBackup/VIDEO_TS.IFO");
    m_Engine.SetVobPath(vob);
    m_Engine.DeleteBackup();
    EXPECT_FALSE(IsDirectory(m_Temp / "DVD/DorvexBackup"));
    EXPECT_FALSE(IsDirectory(m_Temp / "DVD/VIDEO_TS/DorvexBackup"));
}

// A copy is found whatever the case of its name or of the file it was made from.
TEST_F(BackupPath, ACopyIsFoundWhateverTheCaseOfItsName) {
    ASSERT_EQ(::mkdir((m_Temp / "DVD/VIDEO_TS/DorvexBackup").c_str(), 0777), 0);
    FILE* f = fopen((m_Temp / "DVD/VIDEO_TS/DorvexBackup/vts_01_1.vob").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(m_Engine.GetBackupPath(m_Temp / "DVD/VIDEO_TS/VTS_01_1.VOB"),
              m_Temp / "DVD/VIDEO_TS/DorvexBackup/vts_01_1.vob");
    EXPECT_EQ(m_Engine.GetBackupPath(m_Temp / "DVD/VIDEO_TS/VTS_01_2.VOB"),
              m_Temp / "DVD/VIDEO_TS/DorvexBackup/VTS_01_2.VOB");
}

}  // namespace
}  // namespace dorvex
