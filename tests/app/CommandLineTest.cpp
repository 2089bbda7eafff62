#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/CommandLine.h"

namespace dorvex {
namespace {

class CommandLineTest : public ::testing::Test {
  protected:
    LaunchFields Parse(std::vector<const char*> args) {
        args.insert(args.begin(), "dorvex");
        return ParseCommandLine(static_cast<int>(args.size()), args.data());
    }
};

TEST_F(CommandLineTest, NoArgumentsMeansInteractiveWithEveryDefault) {
    LaunchFields launch = Parse({});
    EXPECT_FALSE(launch.m_CommandLine);
    EXPECT_FALSE(launch.m_StartNow);
    EXPECT_FALSE(launch.m_Options.m_FullDvd);
    EXPECT_FALSE(launch.m_Options.m_EmptyBackup);
    EXPECT_TRUE(launch.m_Options.m_LogPath.empty());
    EXPECT_FALSE(launch.m_HasFileArg);
    EXPECT_EQ(launch.m_Result, 0);
    EXPECT_EQ(launch.m_Options.m_RemoveUnrefed, 0);
    EXPECT_EQ(launch.m_Options.m_RemapVOBIDs, 1);
    EXPECT_EQ(launch.m_Options.m_LogPath, "");
}

TEST_F(CommandLineTest, EverySwitchSetsItsField) {
    LaunchFields launch =
        Parse({"-a", "-c", "-f", "-i", "-s", "-u", "-v", "-w", "-l", "/x/run.log", "in.vob"});
    EXPECT_TRUE(launch.m_CommandLine);
    EXPECT_TRUE(launch.m_Options.m_EmptyBackup);
    EXPECT_TRUE(launch.m_Options.m_FullDvd);
    EXPECT_TRUE(launch.m_StartNow);
    EXPECT_EQ(launch.m_Options.m_ResetIlvu, 1);
    EXPECT_EQ(launch.m_Options.m_InPlace, 1);
    EXPECT_EQ(launch.m_Options.m_RemoveUnrefed, 1);
    EXPECT_EQ(launch.m_Options.m_RemapVOBIDs, 0);
    EXPECT_EQ(launch.m_Options.m_WaitForFile, 1);
    EXPECT_EQ(launch.m_Options.m_LogPath, "/x/run.log");
    EXPECT_TRUE(launch.m_HasFileArg);
    EXPECT_EQ(launch.m_FileArg, "in.vob");
    // Options the command line has no switch for keep their defaults.
    EXPECT_EQ(launch.m_Options.m_BackupAbove, 0);
    EXPECT_EQ(launch.m_Options.m_FixPGCLBAs, 1);
}

TEST_F(CommandLineTest, SwitchesWrittenTogetherEachCount) {
    LaunchFields launch = Parse({"-usi", "-fl/x/run.log", "x.vob"});
    EXPECT_EQ(launch.m_Options.m_RemoveUnrefed, 1);
    EXPECT_TRUE(launch.m_StartNow);
    EXPECT_EQ(launch.m_Options.m_InPlace, 1);
    EXPECT_TRUE(launch.m_Options.m_FullDvd);
    EXPECT_EQ(launch.m_Options.m_LogPath, "/x/run.log");
    EXPECT_TRUE(launch.m_UsageError.empty());
}

// Nothing the user typed is dropped in silence: each of these is refused as a whole.
TEST_F(CommandLineTest, UnknownOptionsAndALogSwitchWithoutItsPathAreUsageErrors) {
    const std::vector<std::vector<const char*>> refused = {
        {"-S", "x.vob"},      {"-x", "x.vob"}, {"-", "x.vob"},  {"-sx", "x.vob"},
        {"--bogus", "x.vob"}, {"-U", "x.vob"}, {"x.vob", "-l"}, {"-sl"},
    };
    for (const auto& args : refused) {
        LaunchFields launch = Parse(args);
        EXPECT_FALSE(launch.m_UsageError.empty()) << args[0] << " " << args.back();
    }
    EXPECT_EQ(Parse({"-S", "x.vob"}).m_UsageError, "unknown option -S");
    EXPECT_EQ(Parse({"x.vob", "-l"}).m_UsageError, "-l needs the path of the log file");
}

TEST_F(CommandLineTest, HelpVersionAndPathsAfterTheDoubleDash) {
    EXPECT_TRUE(Parse({"-h"}).m_ShowHelp);
    EXPECT_TRUE(Parse({"--help"}).m_ShowHelp);
    EXPECT_TRUE(Parse({"--version"}).m_ShowVersion);
    LaunchFields launch = Parse({"-s", "--", "-odd name.vob"});
    EXPECT_TRUE(launch.m_StartNow);
    EXPECT_EQ(launch.m_FileArg, "-odd name.vob");
    EXPECT_TRUE(launch.m_UsageError.empty());
}

TEST_F(CommandLineTest, LogSwitchTakesTheNextArgumentWhateverItLooksLike) {
    LaunchFields launch = Parse({"-l", "-s", "x.vob"});
    EXPECT_EQ(launch.m_Options.m_LogPath, "-s");
    EXPECT_FALSE(launch.m_StartNow);
    EXPECT_EQ(launch.m_FileArg, "x.vob");

    LaunchFields swallowed = Parse({"-l", "y.vob"});
    EXPECT_EQ(swallowed.m_Options.m_LogPath, "y.vob");
    EXPECT_FALSE(swallowed.m_HasFileArg);
}

TEST_F(CommandLineTest, TheLastFileArgumentWins) {
    LaunchFields launch = Parse({"a.vob", "-u", "b.vob"});
    EXPECT_EQ(launch.m_FileArg, "b.vob");
}

TEST_F(CommandLineTest, StartSwitchAloneIsCommandLineModeWithoutFile) {
    LaunchFields launch = Parse({"-s"});
    EXPECT_TRUE(launch.m_CommandLine);
    EXPECT_TRUE(launch.m_StartNow);
    EXPECT_FALSE(launch.m_HasFileArg);
}

TEST(DefaultLogPathTest, PrefersTempThenTmpdirThenTmp) {
    std::string savedTemp = getenv("TEMP") ? getenv("TEMP") : "";
    std::string savedTmpdir = getenv("TMPDIR") ? getenv("TMPDIR") : "";
    bool hadTemp = getenv("TEMP") != nullptr;
    bool hadTmpdir = getenv("TMPDIR") != nullptr;

    setenv("TEMP", "/t1", 1);
    setenv("TMPDIR", "/t2", 1);
    EXPECT_EQ(DefaultLogPath(), "/t1/Dorvex.log");
    setenv("TEMP", "", 1);
    EXPECT_EQ(DefaultLogPath(), "/t2/Dorvex.log");
    unsetenv("TEMP");
    unsetenv("TMPDIR");
    EXPECT_EQ(DefaultLogPath(), "/tmp/Dorvex.log");

    if (hadTemp) {
        setenv("TEMP", savedTemp.c_str(), 1);
    }
    if (hadTmpdir) {
        setenv("TMPDIR", savedTmpdir.c_str(), 1);
    }
}

}  // namespace
}  // namespace dorvex
