#include "support/Paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/TempDir.h"

namespace dorvex {
namespace {

TEST(PathSplitting, BackslashPathWithDrive) {
    const std::string path = "D:\\DVD\\VIDEO_TS\\VTS_01_1.VOB";
    EXPECT_EQ(GetFileExt(path), ".VOB");
    EXPECT_EQ(GetBaseName(path), "VTS_01_1");
    EXPECT_EQ(GetFileName(path), "VTS_01_1.VOB");
    EXPECT_EQ(GetFolder(path), "D:\\DVD\\VIDEO_TS\\");
    EXPECT_EQ(ReplaceExt(path, ".IFO"), "D:\\DVD\\VIDEO_TS\\VTS_01_1.IFO");
}

TEST(PathSplitting, SlashAndMixedSeparators) {
    EXPECT_EQ(GetFolder("/media/dvd/VIDEO_TS/VTS_02_3.VOB"), "/media/dvd/VIDEO_TS/");
    EXPECT_EQ(GetFolder("/media\\dvd/x.vob"), "/media\\dvd/");
    EXPECT_EQ(GetBaseName("/media\\dvd/x.vob"), "x");
    EXPECT_EQ(GetFolder("VTS_01_1.VOB"), "");
}

TEST(PathSplitting, DotsAndMissingExtensions) {
    EXPECT_EQ(GetBaseName("a.b.VOB"), "a.b");
    EXPECT_EQ(GetFileExt("a.b.VOB"), ".VOB");
    EXPECT_EQ(GetBaseName("D:\\x.y\\file"), "file");
    EXPECT_EQ(GetFileExt("D:\\x.y\\file"), "");
    EXPECT_EQ(GetFileExt("/a.dir/file"), "");
    EXPECT_EQ(ReplaceExt("/a.dir/file", ".BUP"), "/a.dir/file.BUP");
}

TEST(PathSplitting, LongFoldersAreNotCut) {
    std::string deep = "/";
    for (int i = 0; i < 40; ++i) {
        deep += "folder_number_" + std::to_string(i) + "/";
    }
    ASSERT_GT(deep.size(), 255u);
    EXPECT_EQ(GetFolder(deep + "VTS_01_1.VOB"), deep);
}

TEST(JoinPathTest, InsertsOneSlashOnlyWhenNeeded) {
    EXPECT_EQ(JoinPath("D:\\x", "a"), "D:\\x/a");
    EXPECT_EQ(JoinPath("D:\\x\\", "a"), "D:\\x\\a");
    EXPECT_EQ(JoinPath("D:\\x", "\\a"), "D:\\x\\a");
    EXPECT_EQ(JoinPath("D:/x/", "a"), "D:/x/a");
    EXPECT_EQ(JoinPath("/tmp", "a"), "/tmp/a");
    EXPECT_EQ(JoinPath("/tmp/", "/a"), "/tmp//a");
}

TEST(ConcatTest, JoinsWithoutInserting) {
    EXPECT_EQ(Concat("ab", "cd"), "abcd");
    EXPECT_EQ(Concat3("/x/", "DorvexBackup/", "VTS_01_1.VOB"), "/x/DorvexBackup/VTS_01_1.VOB");
}

class FileQueries : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_Temp.Path().empty()); }

    std::string Make(const std::string& name, int64_t size) {
        std::string path = m_Temp / "" + name;
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        fclose(f);
        EXPECT_EQ(truncate(path.c_str(), size), 0);  // sparse: no disk space used
        return path;
    }

    testkit::TempDir m_Temp;
};

TEST_F(FileQueries, SizesInWholeKilobytesAbove4GiB) {
    EXPECT_EQ(FileSizeKB(Make("small", 1023)), 0);
    EXPECT_EQ(FileSizeKB(Make("kb", 2048 + 1023)), 2);
    EXPECT_EQ(FileSizeKB(Make("big", 5LL * 1024 * 1024 * 1024)), 5242880);
    EXPECT_EQ(FileSizeKB(m_Temp / "missing"), 0);
    EXPECT_EQ(FileSizeKB(""), 0);
}

TEST_F(FileQueries, ExistenceAndEmptiness) {
    std::string empty = Make("empty", 0);
    std::string one = Make("one", 1);
    EXPECT_TRUE(IsEmptyOrMissing(empty));
    EXPECT_TRUE(IsEmptyOrMissing(m_Temp / "missing"));
    EXPECT_TRUE(IsEmptyOrMissing(""));
    EXPECT_FALSE(IsEmptyOrMissing(one));
    EXPECT_TRUE(FileExists(empty));
    EXPECT_TRUE(FileExists(m_Temp.Path()));  // a folder counts as existing
    EXPECT_FALSE(FileExists(m_Temp / "missing"));
    EXPECT_FALSE(FileExists(""));
}

TEST_F(FileQueries, DeleteFolderFilesLeavesSubfolders) {
    Make("a.VOB", 10);
    Make("b.IFO", 10);
    ASSERT_EQ(mkdir((m_Temp / "sub").c_str(), 0755), 0);
    std::string inner = m_Temp / "sub/keep";
    FILE* f = fopen(inner.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);

    DeleteFolderFiles(m_Temp.Path());

    EXPECT_FALSE(FileExists(m_Temp / "a.VOB"));
    EXPECT_FALSE(FileExists(m_Temp / "b.IFO"));
    EXPECT_TRUE(FileExists(m_Temp / "sub"));
    EXPECT_TRUE(FileExists(inner));
}

}  // namespace
}  // namespace dorvex
