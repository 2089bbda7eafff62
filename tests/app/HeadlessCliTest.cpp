// End-to-end runs of the built command-line binary on small synthetic title sets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/ChildProcess.h"
#include "common/DiscBuilder.h"
#include "common/TempDir.h"

namespace dorvex {
namespace {

using testkit::ChildResult;
using testkit::ReadText;

constexpr size_t kPack = 2048;

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// A padding pack: MPEG-2 pack header, then a padding packet filling the rest of the sector.
std::string PaddingPack(uint8_t fill) {
    const uint8_t header[20] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01,
                                0x01, 0x89, 0xC3, 0xF8, 0x00, 0x00, 0x01, 0xBE, 0x07, 0xEC};
    std::string pack(kPack, static_cast<char>(fill));
    memcpy(pack.data(), header, sizeof(header));
    return pack;
}

std::string BlankPack() {
    return std::string(kPack, '\0');
}

class HeadlessCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_Temp.Path().empty());
        // Padding packs (kept) between blank packs (removed with -u, else made stuffing).
        for (int i = 0; i < 8; ++i) {
            m_Original += PaddingPack(static_cast<uint8_t>(0x10 + i));
            m_Original += BlankPack();
        }
        WriteAll(m_Vob, m_Original);
        testkit::WriteIfoDescribing(m_Temp.Path(), 1);
    }

    // Starts the binary with stdout on stdoutFd (a file of the test when -1) and stderr on a
    // file of the test.
    pid_t Spawn(const std::vector<std::string>& args, int stdoutFd = -1) {
        return testkit::SpawnChild(DORVEX_CLI_PATH, args,
                                   testkit::IsolatedEnvironment(m_Temp.Path()), m_Temp.Path(),
                                   {.out = stdoutFd});
    }
    ChildResult Wait(pid_t pid) { return testkit::WaitChild(pid, m_Temp.Path()); }
    ChildResult Run(const std::vector<std::string>& args) { return Wait(Spawn(args)); }

  public:
    pid_t SpawnWithStdout(const std::vector<std::string>& args, int fd) { return Spawn(args, fd); }

  protected:
    std::string BackupOf(const std::string& name) const {
        return m_Temp / ("DorvexBackup/" + name);
    }

    testkit::TempDir m_Temp;
    const std::string m_Vob = m_Temp / "VTS_01_1.VOB";
    const std::string m_Log = m_Temp / "run.log";
    std::string m_Original;
};

const std::regex kFramedLog(
    "Starting Processing at \\d\\d:\\d\\d:\\d\\d\n[\\s\\S]*\nEnd Processing at "
    "\\d\\d:\\d\\d:\\d\\d");

TEST_F(HeadlessCliTest, NoArgumentsPrintsUsageAndExitsTwo) {
    ChildResult result = Run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("Usage: dorvex"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
}

TEST_F(HeadlessCliTest, RejectedFileExitsOneWithTheMessageOnStderr) {
    WriteAll(m_Temp / "MOVIE.VOB", m_Original);
    ChildResult badName = Run({"-s", m_Temp / "MOVIE.VOB"});
    EXPECT_EQ(badName.status, 1);
    EXPECT_EQ(badName.err, "Dorvex can only process title vobs (VTS_xx_[1-10].VOB)\n");

    ChildResult missing = Run({"-s", "-l", m_Log, m_Temp / "VTS_02_1.VOB"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Couldn't open input file, exiting\n");
    EXPECT_FALSE(Exists(m_Log));
    EXPECT_EQ(ReadText(m_Vob), m_Original);
}

// Without a display a run starts only with -s; anything else that looks like a run would only
// do part of it (-c deleted the backup) and pass for success. Bad usage is refused whole.
TEST_F(HeadlessCliTest, UsageErrorsAndAMissingStartSwitchExitTwoAndTouchNothing) {
    ASSERT_EQ(mkdir((m_Temp / "DorvexBackup").c_str(), 0755), 0);
    WriteAll(BackupOf("VTS_02_1.VOB"), "another set's copy");
    const std::vector<std::vector<std::string>> refused = {
        {"-u", "-l", m_Log, m_Vob}, {"-c", m_Vob},       {"-s"},
        {"-s", "-x", m_Vob},        {"-s", "-S", m_Vob}, {"-s", "--bogus", m_Vob},
        {"-s", m_Vob, "-l"},
    };
    for (const auto& args : refused) {
        ChildResult result = Run(args);
        EXPECT_EQ(result.status, 2) << args[0] << " " << args.back();
        EXPECT_NE(result.err.find("dorvex"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(ReadText(m_Vob), m_Original);
    EXPECT_FALSE(Exists(m_Log));
    EXPECT_EQ(ReadText(BackupOf("VTS_02_1.VOB")), "another set's copy");
}

TEST_F(HeadlessCliTest, HelpAndVersionGoToStandardOutput) {
    for (const char* ask : {"-h", "--help"}) {
        ChildResult help = Run({ask});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("Usage: dorvex", 0), 0u) << help.out;
        EXPECT_EQ(help.err, "");
    }
    ChildResult version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Dorvex -- 1.4\n");
}

// -c empties the backup (its own copies) before the run, and -su is -s -u.
TEST_F(HeadlessCliTest, EmptyBackupSwitchDeletesTheBackupBeforeTheRun) {
    ASSERT_EQ(mkdir((m_Temp / "DorvexBackup").c_str(), 0755), 0);
    WriteAll(BackupOf("VTS_01_1.VOB"), "an older copy");
    ChildResult result = Run({"-csu", "-l", m_Log, m_Vob});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadText(BackupOf("VTS_01_1.VOB")), m_Original);
    EXPECT_EQ(ReadText(m_Vob).size(), 8 * kPack);
}

TEST_F(HeadlessCliTest, RunFromBackupCleansAndFramesTheLog) {
    ChildResult result = Run({"-s", "-u", "-l", m_Log, m_Vob});
    EXPECT_EQ(result.status, 0) << result.err;

    std::string log = ReadText(m_Log);
    EXPECT_TRUE(std::regex_match(log, kFramedLog)) << log;
    EXPECT_NE(log.find("Dorvex -- 1.4\n"), std::string::npos) << log;
    // Log lines on stdout run together; the final line feed ends them.
    EXPECT_EQ(result.out.rfind("Starting Processing at ", 0), 0u) << result.out;
    ASSERT_FALSE(result.out.empty());
    EXPECT_EQ(result.out.back(), '\n');

    // The blank packs are gone, the padding packs kept in order; the original is in the backup.
    std::string expected;
    for (int i = 0; i < 8; ++i) {
        expected += PaddingPack(static_cast<uint8_t>(0x10 + i));
    }
    EXPECT_TRUE(ReadText(m_Vob) == expected);
    EXPECT_TRUE(ReadText(BackupOf("VTS_01_1.VOB")) == m_Original);
}

TEST_F(HeadlessCliTest, ClosedStdoutDoesNotStopTheRun) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    ChildResult result = Wait(Spawn({"-s", "-u", "-l", m_Log, m_Vob}, fds[1]));
    close(fds[1]);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::regex_match(ReadText(m_Log), kFramedLog));
    EXPECT_EQ(ReadText(m_Vob).size(), 8 * kPack);
}

TEST_F(HeadlessCliTest, DefaultLogGoesToTemp) {
    ChildResult result = Run({"-s", "-i", m_Vob});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::regex_match(ReadText(m_Temp / "Dorvex.log"), kFramedLog));
    EXPECT_FALSE(Exists(BackupOf("VTS_01_1.VOB")));
}

TEST_F(HeadlessCliTest, FullDvdRunInPlace) {
    ChildResult result = Run({"-s", "-f", "-i", "-l", m_Log, m_Vob});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("PROCESSING FULL DVD"), std::string::npos);
    EXPECT_NE(result.out.find("End of FULL DVD process"), std::string::npos);
    std::string log = ReadText(m_Log);
    EXPECT_TRUE(std::regex_match(log, kFramedLog)) << log;
    EXPECT_NE(log.find("PROCESSING FULL DVD"), std::string::npos) << log;
    // Without -u the blank packs became stuffing packs, in place.
    std::string vob = ReadText(m_Vob);
    ASSERT_EQ(vob.size(), m_Original.size());
    EXPECT_TRUE(vob.substr(kPack, kPack) == PaddingPack(0xFF));
}

// A run held on its first log line: its stdout is a one-page pipe that the test fills so that
// the start line just fits. Once it is in, the child has its signal handlers, holds the disc
// folder and has cleared the abort flag, and it blocks on its next log line until the test
// reads what is in the pipe (DrainHeld).
class HeldRun {
  public:
    explicit HeldRun(HeadlessCliTest& test) : m_Test(test) {}
    pid_t Start(const std::vector<std::string>& args) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(fcntl(fds[1], F_SETPIPE_SZ, 4096), 4096);
        const size_t startLine = strlen("Starting Processing at 00:00:00\n");
        const std::string filler(4096 - startLine, '.');
        EXPECT_EQ(write(fds[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
        const pid_t pid = m_Test.SpawnWithStdout(args, fds[1]);
        close(fds[1]);
        m_Read = fds[0];
        int queued = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (queued < 4096 && std::chrono::steady_clock::now() < deadline) {
            EXPECT_EQ(ioctl(m_Read, FIONREAD, &queued), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(queued, 4096);
        return pid;
    }
    // Everything the child writes to stdout until it ends.
    std::string Drain() {
        std::string out;
        char buffer[4096];
        for (ssize_t n; (n = read(m_Read, buffer, sizeof(buffer))) > 0;) {
            out.append(buffer, static_cast<size_t>(n));
        }
        close(m_Read);
        return out;
    }

  private:
    HeadlessCliTest& m_Test;
    int m_Read = -1;
};

class HeadlessCliSignalTest : public HeadlessCliTest, public ::testing::WithParamInterface<int> {};

TEST_P(HeadlessCliSignalTest, SignalAbortsTheRunAndRestoresTheBackup) {
    HeldRun held(*this);
    const pid_t pid = held.Start({"-s", "-u", "-l", m_Log, m_Vob});
    // The pass has not read a pack yet: it is held on its first log line.
    ASSERT_EQ(kill(pid, GetParam()), 0);
    const std::string out = held.Drain();
    ChildResult result = Wait(pid);

    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(out.find("Backup files restored"), std::string::npos) << out;
    EXPECT_NE(result.err.find("Interrupted; the files were restored from the backup."),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(ReadText(m_Vob) == m_Original);
    EXPECT_FALSE(Exists(BackupOf("VTS_01_1.VOB")));
    std::string log = ReadText(m_Log);
    EXPECT_TRUE(std::regex_match(log, kFramedLog)) << log;
}

// One run at a time per disc folder: a second one is refused at once, naming the first.
TEST_F(HeadlessCliTest, ASecondRunOnTheSameFolderIsRefusedWhileTheFirstGoesOn) {
    HeldRun held(*this);
    const pid_t first = held.Start({"-s", "-u", "-l", m_Log, m_Vob});
    ChildResult second = Run({"-s", "-i", "-l", m_Temp / "second.log", m_Vob});
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("Another Dorvex run (process " + std::to_string(first)),
              std::string::npos)
        << second.err;
    EXPECT_FALSE(Exists(m_Temp / "second.log"));
    held.Drain();
    EXPECT_EQ(Wait(first).status, 0);
    EXPECT_EQ(ReadText(BackupOf("VTS_01_1.VOB")), m_Original);
}

// The default log lies in a folder anyone may write to: a link planted at its name is not
// followed, and the user hears that the run has no log.
TEST_F(HeadlessCliTest, ALinkPlantedAtTheDefaultLogIsNotFollowed) {
    WriteAll(m_Temp / "someone-elses-file", "keep");
    ASSERT_EQ(symlink((m_Temp / "someone-elses-file").c_str(), (m_Temp / "Dorvex.log").c_str()), 0);
    ChildResult result = Run({"-s", "-i", m_Vob});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("Couldn't open the log file " + m_Temp / "Dorvex.log"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(ReadText(m_Temp / "someone-elses-file"), "keep");
}

INSTANTIATE_TEST_SUITE_P(InterruptAndTerminate, HeadlessCliSignalTest,
                         ::testing::Values(SIGINT, SIGTERM));

}  // namespace
}  // namespace dorvex
