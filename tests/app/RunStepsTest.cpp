#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "app/core/RunSteps.h"
#include "support/Sinks.h"

namespace dorvex {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Records what the run steps ask of the engine instead of touching any VOB.
class RecordingEngine : public CVtsCleaner {
  public:
    void ProcessVts() override {
        ++m_VtsRuns;
        Logf("%s", "a line of the run");
    }
    void ProcessFullDvd() override { ++m_FullRuns; }
    void RestoreBackup() override { ++m_Restores; }

    int m_VtsRuns = 0;
    int m_FullRuns = 0;
    int m_Restores = 0;
};

class RunStepsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/dorvex-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_Dir = pattern;
        m_Engine.m_LogPath = m_Dir + "/Dorvex.log";
    }
    void TearDown() override {
        CloseLogFile();
        std::system(("rm -rf '" + m_Dir + "'").c_str());
    }

    // Runs the steps a front end runs, with stdout captured.
    bool Run(bool fullDvd, bool closing = false) {
        testing::internal::CaptureStdout();
        BeginRunLog(m_Engine);
        RunEngine(m_Engine, fullDvd);
        if (m_AbortDuringRun) {
            m_Engine.m_Abort = 1;
        }
        if (m_FailDuringRun) {
            m_Engine.m_Failed = 1;
        }
        bool interrupted = EndRun(m_Engine, closing);
        m_Stdout = testing::internal::GetCapturedStdout();
        return interrupted;
    }

    std::string m_Dir;
    RecordingEngine m_Engine;
    bool m_AbortDuringRun = false;
    bool m_FailDuringRun = false;
    std::string m_Stdout;
};

const std::regex kFinishedLog(
    "Starting Processing at \\d\\d:\\d\\d:\\d\\d\n"
    "a line of the run\n"
    "End Processing at \\d\\d:\\d\\d:\\d\\d");

TEST_F(RunStepsTest, LogIsEmptiedThenFramedByTheStartAndEndLines) {
    std::ofstream(m_Engine.m_LogPath) << "the previous run's log\n";
    EXPECT_FALSE(Run(false));
    std::string log = ReadAll(m_Engine.m_LogPath);
    EXPECT_TRUE(std::regex_match(log, kFinishedLog)) << log;
    EXPECT_EQ(m_Engine.m_VtsRuns, 1);
    EXPECT_EQ(m_Engine.m_FullRuns, 0);
    EXPECT_EQ(m_Engine.m_Restores, 0);
    EXPECT_EQ(m_Stdout.rfind("Starting Processing at ", 0), 0u) << m_Stdout;
    EXPECT_FALSE(IsLogFileOpen());
}

TEST_F(RunStepsTest, StartClearsTheFlagsOfThePreviousRun) {
    m_Engine.m_Abort = 1;
    m_Engine.m_Failed = 1;
    EXPECT_FALSE(Run(true));
    EXPECT_EQ(m_Engine.m_FullRuns, 1);
    EXPECT_EQ(m_Engine.m_VtsRuns, 0);
    EXPECT_EQ(m_Engine.m_Restores, 0);
}

TEST_F(RunStepsTest, InterruptedRunFromBackupIsRestoredAfterTheEndLine) {
    m_AbortDuringRun = true;
    EXPECT_TRUE(Run(false));
    EXPECT_EQ(m_Engine.m_Restores, 1);
    EXPECT_TRUE(std::regex_match(ReadAll(m_Engine.m_LogPath), kFinishedLog));

    m_AbortDuringRun = false;
    m_FailDuringRun = true;
    EXPECT_TRUE(Run(false));
    EXPECT_EQ(m_Engine.m_Restores, 2);

    m_FailDuringRun = false;
    EXPECT_TRUE(Run(false, /*closing=*/true));
    EXPECT_EQ(m_Engine.m_Restores, 3);
}

TEST_F(RunStepsTest, InPlaceRunIsNeverRestoredAndOnlyAFailureCountsAsInterrupted) {
    m_Engine.m_InPlace = 1;
    m_AbortDuringRun = true;
    EXPECT_FALSE(Run(false));
    EXPECT_FALSE(Run(false, /*closing=*/true));
    m_FailDuringRun = true;
    EXPECT_TRUE(Run(false));
    EXPECT_EQ(m_Engine.m_Restores, 0);
}

TEST_F(RunStepsTest, UnwritableLogPathStillRunsAndLogsToStdout) {
    m_Engine.m_LogPath = m_Dir + "/missing-folder/Dorvex.log";
    EXPECT_FALSE(Run(false));
    EXPECT_EQ(m_Engine.m_VtsRuns, 1);
    EXPECT_NE(m_Stdout.find("a line of the run"), std::string::npos);
    EXPECT_FALSE(IsLogFileOpen());
}

}  // namespace
}  // namespace dorvex
