// dorvex-cli's command line and its clean subcommand, run as a child process: usage errors, the
// version, results byte for byte the same as the headless `dorvex -s` with the same options, log
// lines and alerts on standard error, and Ctrl-C or SIGTERM during a run.
#include <signal.h>
#include <sys/ioctl.h>

#include <chrono>
#include <regex>
#include <thread>

#include "CliHarness.h"
#include "common/StreamBuilder.h"

namespace dorvex::clitest {
namespace {

class CliClean : public CliHarness {
  protected:
    void SetUp() override {
        MakeDamagedDisc(Disc());
        m_Original = ReadTree(Disc());
    }
    std::string Disc() const { return Path("disc/VIDEO_TS"); }
    std::string Log() const { return Path("run.log"); }

    Tree m_Original;
};

TEST_F(CliClean, UsageErrorsAndRefusedInputExitTwoAndTouchNothing) {
    WriteText(Path("MOVIE.VOB"), ReadText(Disc() + "/VTS_01_1.VOB"));
    fs::create_directories(Path("empty"));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"polish", Disc()},
        {"clean"},
        {"clean", "--bogus", Disc()},
        {"clean", "--log"},
        {"clean", Disc(), Disc()},
        {"clean", "--wait", Disc()},  // waiting is for in-place runs only
        {"clean", Path("nothing-here")},
        {"clean", Path("empty")},
        {"clean", "-u", Path("MOVIE.VOB")},
        {"restore"},
        {"delete-backup", "--yes", "--full-dvd", Disc()},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& arg : args) {
            shown += " " + arg;
        }
        ChildResult result = Cli(args);
        EXPECT_EQ(result.status, 2) << shown << "\n" << result.err;
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_TRUE(result.err.rfind("dorvex-cli: ", 0) == 0 || result.err.rfind("error: ", 0) == 0)
            << shown << "\n"
            << result.err;
    }
    EXPECT_TRUE(ReadTree(Disc()) == m_Original);
    EXPECT_FALSE(fs::exists(Disc() + "/DorvexBackup"));

    ChildResult badName = Cli({"clean", Path("MOVIE.VOB")});
    EXPECT_EQ(badName.err, "error: Dorvex can only process title vobs (VTS_xx_[1-10].VOB)\n");
}

TEST_F(CliClean, VersionAndHelp) {
    ChildResult version = Cli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "dorvex-cli " DORVEX_PROJECT_VERSION "\n");
    EXPECT_EQ(version.err, "");

    ChildResult help = Cli({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* text : {"clean", "restore", "delete-backup", "Exit status:", "  2  "}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text << "\n" << help.out;
    }
    ChildResult cleanHelp = Cli({"clean", "--help"});
    EXPECT_EQ(cleanHelp.status, 0);
    EXPECT_NE(cleanHelp.out.find("Exit status:"), std::string::npos) << cleanHelp.out;
}

// The same options spelled for both programs. Two have no switch in the headless program and
// reach it through the settings file.
struct CleanCase {
    const char* name;
    std::vector<std::string> headless;
    std::vector<std::string> cli;
    const char* settings;
    bool fullDvd = false;
};

class CliMatchesHeadless : public CliHarness, public ::testing::WithParamInterface<CleanCase> {};

std::string Normalised(std::string log) {
    log = std::regex_replace(log, std::regex("\\d\\d:\\d\\d:\\d\\d"), "hh:mm:ss");
    return std::regex_replace(log, std::regex("/(headless|cli)/"), "/disc/");
}

TEST_P(CliMatchesHeadless, SameFilesAndLogAsTheHeadlessRun) {
    const CleanCase& c = GetParam();
    const std::string headlessRoot = Path("headless");
    const std::string cliRoot = Path("cli");
    MakeDamagedDisc(headlessRoot + "/VIDEO_TS");
    MakeDamagedDisc(cliRoot + "/VIDEO_TS");
    // A stale file in the backup folder: only --empty-backup removes it.
    for (const std::string& root : {headlessRoot, cliRoot}) {
        fs::create_directories(root + "/VIDEO_TS/DorvexBackup");
        WriteText(root + "/VIDEO_TS/DorvexBackup/stale.txt", "left from an old run");
    }
    const Tree original = ReadTree(cliRoot);

    std::vector<std::string> headlessArgs = {"-s", "-l", Path("headless.log")};
    headlessArgs.insert(headlessArgs.end(), c.headless.begin(), c.headless.end());
    headlessArgs.push_back(headlessRoot + "/VIDEO_TS/VTS_01_1.VOB");
    WriteSettings(c.settings);
    ChildResult headless = Headless(headlessArgs);
    fs::remove(Path("config/dorvex.ini"));
    ASSERT_EQ(headless.status, 0) << headless.err;

    std::vector<std::string> cliArgs = {"clean", "--log", Path("cli.log")};
    cliArgs.insert(cliArgs.end(), c.cli.begin(), c.cli.end());
    cliArgs.push_back(cliRoot + "/VIDEO_TS/VTS_01_1.VOB");
    ChildResult cli = Cli(cliArgs);
    ASSERT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, "");

    const Tree expected = ReadTree(headlessRoot);
    const Tree actual = ReadTree(cliRoot);
    EXPECT_FALSE(actual == original) << "the run changed nothing";
    std::vector<std::string> expectedNames, actualNames;
    for (const auto& [name, bytes] : expected) {
        expectedNames.push_back(name);
    }
    for (const auto& [name, bytes] : actual) {
        actualNames.push_back(name);
        auto it = expected.find(name);
        EXPECT_TRUE(it != expected.end() && it->second == bytes) << name << " differs";
    }
    EXPECT_EQ(actualNames, expectedNames);

    const std::string cliLog = ReadText(Path("cli.log"));
    EXPECT_EQ(Normalised(cliLog), Normalised(ReadText(Path("headless.log"))));
    // Standard error carries the log's lines, each on a line of its own, and the log file every
    // line the run printed: a full-DVD run's IFO-only steps (the video manager's, here) too.
    std::vector<std::string> errLines = SplitLines(cli.err);
    EXPECT_EQ(errLines, ConsoleLinesOfLog(cliLog));
    if (c.fullDvd) {
        EXPECT_EQ(errLines.back(), "End of FULL DVD process");
    }
    ASSERT_FALSE(cli.err.empty());
    EXPECT_EQ(cli.err.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Options, CliMatchesHeadless,
    ::testing::Values(
        CleanCase{"FromBackup", {}, {}, ""},
        CleanCase{"RemoveUnreferenced", {"-u"}, {"--remove-unreferenced"}, ""},
        CleanCase{"InPlace", {"-i"}, {"--in-place"}, ""},
        CleanCase{"InPlaceRemoving", {"-u", "-i"}, {"-ui"}, ""},
        CleanCase{"KeepIdsResetIlvu", {"-u", "-v", "-a"}, {"-u", "--keep-vob-ids", "-a"}, ""},
        CleanCase{"FullDvd", {"-u", "-f"}, {"-u", "--full-dvd"}, "", true},
        CleanCase{"FullDvdInPlace", {"-f", "-i"}, {"-fi"}, "", true},
        CleanCase{"EmptyBackup", {"-u", "-c"}, {"-u", "--empty-backup"}, ""},
        CleanCase{"SettingsAsOptions",
                  {"-u"},
                  {"-u", "--no-fix-pgc-lbas", "--backup-above"},
                  "FixPGCLBAs=0\nBackupAbove=1\n"}),
    [](const ::testing::TestParamInfo<CleanCase>& info) { return std::string(info.param.name); });

TEST_F(CliClean, QuietLeavesTheConsoleToErrors) {
    ChildResult result = Cli({"clean", "--quiet", "-u", "--log", Log(), Disc() + "/VTS_01_1.VOB"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_NE(ReadText(Log()).find("\nDone processing\n"), std::string::npos);
}

TEST_F(CliClean, AlertsShowAsErrorLinesAndARefusedRunExitsTwoChangingNothing) {
    // A folder where the backup copy of the first VOB must go: the run does not start.
    fs::create_directories(Disc() + "/DorvexBackup/VTS_01_1.VOB");
    WriteText(Disc() + "/DorvexBackup/VTS_01_1.VOB/keep", "x");
    ChildResult result = Cli({"clean", "--quiet", "-u", "--log", Log(), Disc() + "/VTS_01_1.VOB"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(SplitLines(result.err),
              std::vector<std::string>{"error: " + Disc() +
                                       "/DorvexBackup already holds VTS_01 from an earlier run, "
                                       "or something else where a copy goes: " +
                                       Disc() +
                                       "/DorvexBackup/VTS_01_1.VOB is not a file. Nothing was "
                                       "changed; move it away and run again."});
    Tree after = ReadTree(Disc());
    after.erase("DorvexBackup/VTS_01_1.VOB/keep");
    EXPECT_TRUE(after == m_Original);
    // As with the headless program, alerts stay out of the log file.
    EXPECT_EQ(ReadText(Log()).find("Couldn't"), std::string::npos);
}

TEST_F(CliClean, AFolderMeansItsLowestTitleSetAndADiscFolderItsVideoTs) {
    const std::string folder = Path("other/VIDEO_TS");
    fs::create_directories(folder);
    for (int32_t titleSet : {3, 2}) {
        {
            testkit::StreamWriter w(folder, titleSet, 100);
            w.AddVobu(1, 1, 2);
        }
        testkit::WriteIfoDescribing(folder, titleSet);
    }
    ChildResult result = Cli({"clean", "-i", "--log", Log(), Path("other")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("Processing " + folder + "/VTS_02_1.VOB -- in-place processing\n"),
              std::string::npos)
        << result.err;
}

// Signals during a run: standard error is a one-page pipe that the test fills so that the start
// line just fits. Once it is in, the child catches the signals and has cleared the abort flag;
// it then blocks on its next line until the test reads.
struct SignalCase {
    int signal;
    bool inPlace;
};

class CliSignal : public CliClean, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(CliSignal, ASignalStopsTheRunWithExitOne) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(fcntl(fds[1], F_SETPIPE_SZ, 4096), 4096);
    const size_t startLine = strlen("Starting Processing at 00:00:00\n");
    std::string filler(4096 - startLine, '.');
    ASSERT_EQ(write(fds[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));

    std::vector<std::string> args = {"clean", "-u", "--log", Log(), Disc() + "/VTS_01_1.VOB"};
    if (GetParam().inPlace) {
        args.insert(args.begin() + 1, "--in-place");
    }
    pid_t pid = Spawn(DORVEX_CLI2_PATH, args, ChildStreams{-1, -1, fds[1]});
    close(fds[1]);
    int queued = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (queued < 4096 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(ioctl(fds[0], FIONREAD, &queued), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(queued, 4096);
    ASSERT_EQ(kill(pid, GetParam().signal), 0);

    std::string err;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof(buffer))) > 0;) {
        err.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    ChildResult result = Wait(pid);

    EXPECT_EQ(result.status, 1) << err;
    EXPECT_NE(
        err.find(GetParam().inPlace ? "\nerror: Interrupted; no title set was left half cleaned"
                                    : "\nerror: Interrupted; the files were restored"),
        std::string::npos)
        << err;
    // Stopped before the first pack: in place nothing was written, from backup all came back.
    EXPECT_TRUE(ReadTree(Disc()) == m_Original);
    EXPECT_EQ(err.find("Backup files restored") != std::string::npos, !GetParam().inPlace);
}

INSTANTIATE_TEST_SUITE_P(InterruptAndTerminate, CliSignal,
                         ::testing::Values(SignalCase{SIGINT, false}, SignalCase{SIGTERM, true},
                                           SignalCase{SIGTERM, false}));

}  // namespace
}  // namespace dorvex::clitest
