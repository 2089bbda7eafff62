// Restore and Delete Backup as every front end runs them: only with the disc folder held, what
// they would touch said before, the files back as they were and no empty backup folder left.
#include "app/core/BackupActions.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/RunSession.h"
#include "common/DiscBuilder.h"
#include "common/TempDir.h"
#include "support/Sinks.h"

namespace dorvex {
namespace {

TEST(BackupActions, RestoreNeedsTheFolderAndPutsEverythingBack) {
    ScopedSinks quiet(DiscardMessage, DiscardMessage);
    testkit::TempDir dir;
    testkit::MakeDamagedDisc(dir.Path());
    const testkit::Tree original = testkit::ReadTree(dir.Path());
    CVtsCleaner engine;
    RunOptions options;
    options.m_RemoveUnrefed = 1;
    options.m_LogPath = dir / "Dorvex.log";
    {
        RunSession session(engine, options);
        ASSERT_TRUE(session.Start(dir / "VTS_01_2.VOB").Ready());
        ASSERT_FALSE(session.RunHere().Unfinished());
    }
    std::filesystem::remove(dir / "Dorvex.log");

    for (const BackupActionKind kind : {BackupActionKind::Restore, BackupActionKind::Delete}) {
        BackupAction held(engine, kind, false);
        FolderLock elsewhere;
        std::string refusal;
        ASSERT_TRUE(elsewhere.Acquire(dir.Path(), refusal));
        EXPECT_FALSE(held.Lock(refusal));
        EXPECT_EQ(refusal.rfind("Another Dorvex run", 0), 0u) << refusal;
    }
    BackupAction restore(engine, BackupActionKind::Restore, false);
    std::string refusal;
    ASSERT_TRUE(restore.Lock(refusal)) << refusal;
    const BackupCheck check = restore.Check();
    EXPECT_FALSE(check.refused);
    EXPECT_EQ(check.what, "VTS_01");
    EXPECT_EQ(check.folder, dir / "DorvexBackup");
    EXPECT_GT(check.copies, 0u);
    EXPECT_TRUE(restore.Perform());
    EXPECT_TRUE(testkit::ReadTree(dir.Path()) == original);
    EXPECT_FALSE(std::filesystem::exists(dir / "DorvexBackup"));

    const BackupCheck again = restore.Check();
    EXPECT_TRUE(again.refused);
    EXPECT_EQ(again.message, "no backup of VTS_01 in " + dir / "DorvexBackup");
}

}  // namespace
}  // namespace dorvex
