#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>

#include "app/core/OpenCheck.h"
#include "app/core/RunSession.h"
#include "common/DiscBuilder.h"
#include "common/TempDir.h"
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

class RunSessionTest : public ::testing::Test {
  protected:
    void SetUp() override { m_Options.m_LogPath = m_Dir / "Dorvex.log"; }
    void TearDown() override { CloseLogFile(); }

    // Runs the steps a front end runs, with stdout captured; true when the run counts as
    // interrupted (restored, or failed).
    bool Run(bool fullDvd, bool closing = false) {
        testing::internal::CaptureStdout();
        m_Options.m_FullDvd = fullDvd;
        RunSession session(m_Engine, m_Options);
        session.Begin();
        session.Run();
        if (m_AbortDuringRun) {
            m_Engine.m_Abort = 1;
        }
        if (m_FailDuringRun) {
            m_Engine.m_Failed = 1;
        }
        const RunOutcome outcome = session.Finish(closing);
        m_Stdout = testing::internal::GetCapturedStdout();
        return outcome.restored || outcome.failed;
    }
    std::string LogPath() const { return m_Options.m_LogPath; }

    testkit::TempDir m_Dir;
    RunOptions m_Options;
    RecordingEngine m_Engine;
    bool m_AbortDuringRun = false;
    bool m_FailDuringRun = false;
    std::string m_Stdout;
};

const std::regex kFinishedLog(
    "Starting Processing at \\d\\d:\\d\\d:\\d\\d\n"
    "a line of the run\n"
    "End Processing at \\d\\d:\\d\\d:\\d\\d");

TEST_F(RunSessionTest, LogIsEmptiedThenFramedByTheStartAndEndLines) {
    std::ofstream(LogPath()) << "the previous run's log\n";
    EXPECT_FALSE(Run(false));
    std::string log = ReadAll(LogPath());
    EXPECT_TRUE(std::regex_match(log, kFinishedLog)) << log;
    EXPECT_EQ(m_Engine.m_VtsRuns, 1);
    EXPECT_EQ(m_Engine.m_FullRuns, 0);
    EXPECT_EQ(m_Engine.m_Restores, 0);
    EXPECT_EQ(m_Stdout.rfind("Starting Processing at ", 0), 0u) << m_Stdout;
    EXPECT_FALSE(IsLogFileOpen());
}

TEST_F(RunSessionTest, StartClearsTheFlagsOfThePreviousRun) {
    m_Engine.m_Abort = 1;
    m_Engine.m_Failed = 1;
    EXPECT_FALSE(Run(true));
    EXPECT_EQ(m_Engine.m_FullRuns, 1);
    EXPECT_EQ(m_Engine.m_VtsRuns, 0);
    EXPECT_EQ(m_Engine.m_Restores, 0);
}

TEST_F(RunSessionTest, InterruptedRunFromBackupIsRestoredAfterTheEndLine) {
    m_AbortDuringRun = true;
    EXPECT_TRUE(Run(false));
    EXPECT_EQ(m_Engine.m_Restores, 1);
    EXPECT_TRUE(std::regex_match(ReadAll(LogPath()), kFinishedLog));

    m_AbortDuringRun = false;
    m_FailDuringRun = true;
    EXPECT_TRUE(Run(false));
    EXPECT_EQ(m_Engine.m_Restores, 2);

    m_FailDuringRun = false;
    EXPECT_TRUE(Run(false, /*closing=*/true));
    EXPECT_EQ(m_Engine.m_Restores, 3);
}

TEST_F(RunSessionTest, InPlaceRunIsNeverRestoredAndOnlyAFailureCountsAsInterrupted) {
    m_Options.m_InPlace = 1;
    m_AbortDuringRun = true;
    EXPECT_FALSE(Run(false));
    EXPECT_FALSE(Run(false, /*closing=*/true));
    m_FailDuringRun = true;
    EXPECT_TRUE(Run(false));
    EXPECT_EQ(m_Engine.m_Restores, 0);
}

TEST_F(RunSessionTest, UnwritableLogPathStillRunsAndLogsToStdout) {
    m_Options.m_LogPath = m_Dir / "missing-folder/Dorvex.log";
    EXPECT_FALSE(Run(false));
    EXPECT_EQ(m_Engine.m_VtsRuns, 1);
    EXPECT_NE(m_Stdout.find("a line of the run"), std::string::npos);
    EXPECT_FALSE(IsLogFileOpen());
}

// The prologue on a disc whose last title VOB is cut short: what stops it, what it asks, and the
// one answer that lets the run go on.
TEST(RunSessionPrologue, RefusesAsksAndStopsBeforeAnythingChanges) {
    struct Case {
        const char* name;
        const char* vob;
        std::function<bool(const std::string&)> cleanShortStreamAnyway;
        bool folderHeldElsewhere;
        bool stopRequested;
        StartStatus status;
        const char* says;  // the start of the message
        int questions;
        int32_t allowShort;  // what the run is asked to do after the answer
    };
    const auto answer = [](bool yes) { return [yes](const std::string&) { return yes; }; };
    const Case cases[] = {
        {"a name that is no title VOB",
         "MOVIE.VOB",
         {},
         false,
         false,
         StartStatus::NotOpened,
         kMsgNotTitleVob,
         0,
         0},
        {"a short stream, nobody to ask",
         "VTS_01_1.VOB",
         {},
         false,
         false,
         StartStatus::Refused,
         "VTS_01 titles: ",
         0,
         0},
        {"a short stream, kept as it is", "VTS_01_1.VOB", answer(false), false, false,
         StartStatus::Refused, "VTS_01 titles: ", 1, 0},
        {"a short stream, cleaned anyway", "VTS_01_1.VOB", answer(true), false, false,
         StartStatus::Ready, "", 1, 1},
        {"another run on the folder", "VTS_01_1.VOB", answer(true), true, false,
         StartStatus::Refused, "Another Dorvex run", 0, 0},
        {"a stop asked for meanwhile", "VTS_01_1.VOB", answer(true), false, true,
         StartStatus::Stopped, "", 1, 1},
    };
    ScopedSinks quiet(DiscardMessage, DiscardMessage);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::TempDir dir;
        testkit::MakeDamagedDisc(dir.Path());
        std::filesystem::resize_file(dir / "VTS_01_3.VOB", 1000);
        FolderLock elsewhere;
        std::string holder;
        ASSERT_TRUE(!c.folderHeldElsewhere || elsewhere.Acquire(dir.Path(), holder));
        int questions = 0;
        RunHooks hooks;
        if (c.cleanShortStreamAnyway) {
            hooks.cleanShortStreamAnyway = [&](const std::string& refusal) {
                ++questions;
                EXPECT_EQ(refusal.rfind("VTS_01 titles: ", 0), 0u) << refusal;
                return c.cleanShortStreamAnyway(refusal);
            };
        }
        hooks.stopRequested = [&c] { return c.stopRequested; };
        CVtsCleaner engine;
        RunSession session(engine, RunOptions(), std::move(hooks));
        const RunStart start = session.Start(dir / c.vob);
        EXPECT_EQ(start.status, c.status);
        EXPECT_EQ(start.message.rfind(c.says, 0), 0u) << start.message;
        EXPECT_EQ(questions, c.questions);
        EXPECT_EQ(session.Options().m_AllowShort, c.allowShort);
    }
}

// LockDiscFolder in a child process, as a user who may not read what root may: its refusal.
std::string LockRefusalAsUser(const std::string& vob) {
    int fds[2];
    if (pipe(fds) != 0) {
        return "no pipe";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // nobody: permissions hold for it, as they hold for any user but root.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(1);
        }
        FolderLock lock;
        std::string refusal;
        const bool locked = LockDiscFolder(vob, lock, refusal);
        const std::string said = locked ? "locked" : refusal;
        const bool written =
            write(fds[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof(buffer))) > 0;) {
        said.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return said;
}

// A folder that cannot be locked is not said to be held by another run: the refusal names the
// real error and what to change.
TEST(RunSessionLock, AFolderThatCannotBeLockedSaysWhyNotAnotherRun) {
    testkit::TempDir dir;
    const std::string held = dir / "held";
    const std::string unreadable = dir / "unreadable";
    for (const std::string& folder : {held, unreadable}) {
        std::filesystem::create_directories(folder);
    }
    // Others may pass through the temporary folder and into the disc folder, not list it.
    chmod(dir.Path().c_str(), 0711);
    chmod(unreadable.c_str(), 0311);
    FolderLock elsewhere;
    std::string holder;
    ASSERT_TRUE(elsewhere.Acquire(held, holder));
    struct Case {
        std::string vob;
        std::string says;
    };
    const Case cases[] = {
        {held + "/VTS_01_1.VOB", "Another Dorvex run (process " + std::to_string(getpid())},
        {unreadable + "/VTS_01_1.VOB",
         "Couldn't lock " + unreadable +
             " against other Dorvex runs: Permission denied. Nothing was changed; give your "
             "user read permission on the folder"},
        {dir / "gone/VTS_01_1.VOB", "Couldn't lock " + (dir / "gone") +
                                        " against other Dorvex runs: No such file or directory. "
                                        "Nothing was changed; check that the folder is still "
                                        "there"},
    };
    for (const Case& c : cases) {
        const std::string refusal = LockRefusalAsUser(c.vob);
        EXPECT_EQ(refusal.rfind(c.says, 0), 0u) << refusal;
    }
}

}  // namespace
}  // namespace dorvex
