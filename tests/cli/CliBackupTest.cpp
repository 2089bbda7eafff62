// dorvex-cli's restore and delete-backup, and what it does on a terminal: the confirmation they
// ask for (refused outright without a terminal), and clean's progress line.
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <regex>

#include "CliHarness.h"

namespace dorvex::clitest {
namespace {

class CliBackup : public CliHarness {
  protected:
    void SetUp() override {
        MakeDamagedDisc(Disc());
        m_Original = ReadTree(Root());
    }
    std::string Root() const { return Path("disc"); }
    std::string Disc() const { return Path("disc/VIDEO_TS"); }
    // A VOB names its title set; the folder, the whole disc.
    std::string Vob() const { return Disc() + "/VTS_01_1.VOB"; }
    std::string Log() const { return Path("run.log"); }

    // Cleans from backup (the folder: the whole disc) and returns the folder as the run left it.
    Tree Clean(std::vector<std::string> options, const std::string& target = {}) {
        std::vector<std::string> args = {"clean", "-q", "--log", Log()};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(target.empty() ? Vob() : target);
        ChildResult result = Cli(args);
        EXPECT_EQ(result.status, 0) << result.err;
        Tree cleaned = ReadTree(Root());
        EXPECT_FALSE(cleaned == m_Original);
        return cleaned;
    }

    // Another disc of the same layout cleaned from backup in its own folder, its backup left
    // over in this one (a ripper reusing an output folder); this disc's own backup goes.
    void LeaveForeignBackup() {
        const std::string other = Path("other");
        MakeDamagedDisc(other, testkit::DiscShape{480, false});
        fs::remove_all(Disc() + "/DorvexBackup");
        EXPECT_EQ(Cli({"clean", "-q", "-u", other}).status, 0);
        fs::rename(other + "/DorvexBackup", Disc() + "/DorvexBackup");
    }

    Tree m_Original;
};

struct RestoreCase {
    const char* name;
    std::vector<std::string> clean;
    std::vector<std::string> restore;
    const char* vob;  // cleaned and restored: a title set; null: the folder, the whole disc
};

class CliRestore : public CliBackup, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(CliRestore, RestoreBringsBackTheInput) {
    const std::string target = GetParam().vob == nullptr ? Disc() : Disc() + "/" + GetParam().vob;
    Clean(GetParam().clean, target);
    std::vector<std::string> args = {"restore", "--yes"};
    args.insert(args.end(), GetParam().restore.begin(), GetParam().restore.end());
    args.push_back(target);
    ChildResult result = Cli(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("Backup files restored\n"), std::string::npos) << result.err;
    // Every file as it was, and the emptied backup folder gone.
    EXPECT_TRUE(ReadTree(Root()) == m_Original);
    EXPECT_FALSE(fs::exists(Disc() + "/DorvexBackup"));
    EXPECT_FALSE(fs::exists(Root() + "/DorvexBackup"));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CliRestore,
    ::testing::Values(RestoreCase{"TitleSet", {"-u"}, {}, "VTS_01_1.VOB"},
                      RestoreCase{"FullDvd", {"-u", "--full-dvd"}, {"--full-dvd"}, nullptr},
                      RestoreCase{"WholeDiscByItsFolder", {"-u"}, {}, nullptr},
                      RestoreCase{"BackupAbove", {"--backup-above"}, {"--backup-above"}, nullptr}),
    [](const ::testing::TestParamInfo<RestoreCase>& info) { return std::string(info.param.name); });

TEST_F(CliBackup, WithoutATerminalAndWithoutYesNothingIsRestoredOrDeleted) {
    const Tree cleaned = Clean({"-u"});
    for (const char* command : {"restore", "delete-backup"}) {
        ChildResult result = Cli({command, Disc()});
        EXPECT_EQ(result.status, 2) << command;
        EXPECT_NE(result.err.find("not a terminal"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--yes"), std::string::npos) << result.err;
        EXPECT_TRUE(ReadTree(Root()) == cleaned) << command;
    }
}

TEST_F(CliBackup, DeleteBackupKeepsTheCleanedFiles) {
    Tree cleaned = Clean({"-u"});
    ChildResult result = Cli({"delete-backup", "-y", Disc() + "/VTS_01_1.VOB"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists(Disc() + "/DorvexBackup"));
    for (auto it = cleaned.begin(); it != cleaned.end();) {
        it = it->first.find("DorvexBackup/") != std::string::npos ? cleaned.erase(it) : ++it;
    }
    EXPECT_TRUE(ReadTree(Root()) == cleaned);
}

TEST_F(CliBackup, NoBackupIsRefusedWithoutMakingOne) {
    ChildResult restore = Cli({"restore", "--yes", Vob()});
    EXPECT_EQ(restore.status, 2);
    EXPECT_EQ(restore.err, "error: no backup of VTS_01 in " + Disc() + "/DorvexBackup\n");
    ChildResult remove = Cli({"delete-backup", "--yes", Disc()});
    EXPECT_EQ(remove.status, 2);
    EXPECT_FALSE(fs::exists(Disc() + "/DorvexBackup"));

    // A backup of another title set is no backup of this one.
    fs::create_directories(Disc() + "/DorvexBackup");
    WriteText(Disc() + "/DorvexBackup/VTS_02_1.VOB", "another set");
    EXPECT_EQ(Cli({"restore", "--yes", Vob()}).status, 2);
    EXPECT_EQ(ReadText(Disc() + "/DorvexBackup/VTS_02_1.VOB"), "another set");
}

// What is found beside a disc is trusted only once it is shown to belong to its files: the
// .BUP's own bytes come back, another disc's backup or one without its record is not put back
// unless asked twice (--force), and nothing goes back through a link.
enum class Tamper { ForeignBackup, LinkedVob, RecordRemoved };
enum class Forced { NotTried, StillRefused, BringsBackTheOriginal };

struct TrustCase {
    const char* name;
    Tamper tamper;     // done to the disc after a clean from backup
    const char* says;  // in restore's refusal
    Forced forced;     // what restore --force then does
};

class CliBackupTrust : public CliBackup, public ::testing::WithParamInterface<TrustCase> {
  protected:
    // The path of a file outside the disc that must keep its bytes, or empty.
    std::string Apply(Tamper tamper) {
        const std::string scratch = Path("elsewhere");
        switch (tamper) {
            case Tamper::ForeignBackup:
                LeaveForeignBackup();
                return {};
            case Tamper::LinkedVob: {
                fs::create_directories(scratch);
                const std::string victim = scratch + "/VTS_01_1.VOB";
                fs::rename(Vob(), victim);
                fs::create_symlink(victim, Vob());
                return victim;
            }
            case Tamper::RecordRemoved:
                fs::remove(Disc() + "/DorvexBackup/manifest.dorvex-backup");
                return {};
        }
        return {};
    }
};

TEST_P(CliBackupTrust, OnlyWhatBelongsToTheFilesGoesBack) {
    const TrustCase& c = GetParam();
    Clean({"-u"}, Disc());
    const std::string victim = Apply(c.tamper);
    const Tree before = ReadTree(Root());
    const std::string victimBytes = victim.empty() ? "" : ReadText(victim);
    ChildResult restore = Cli({"restore", "--yes", Disc()});
    EXPECT_EQ(restore.status, 2) << restore.err;
    EXPECT_NE(restore.err.find(c.says), std::string::npos) << restore.err;
    EXPECT_EQ(restore.err.find("Backup files restored"), std::string::npos) << restore.err;
    EXPECT_TRUE(ReadTree(Root()) == before);
    if (!victim.empty()) {
        EXPECT_EQ(ReadText(victim), victimBytes);
    }
    if (c.forced == Forced::NotTried) {
        return;
    }
    const bool restores = c.forced == Forced::BringsBackTheOriginal;
    ChildResult forced = Cli({"restore", "--yes", "--force", Disc()});
    EXPECT_EQ(forced.status, restores ? 0 : 2) << forced.err;
    EXPECT_TRUE(ReadTree(Root()) == (restores ? m_Original : before));
}

INSTANTIATE_TEST_SUITE_P(
    Tampered, CliBackupTrust,
    ::testing::Values(TrustCase{"AnotherDiscsBackup", Tamper::ForeignBackup,
                                "is not what the run left", Forced::NotTried},
                      TrustCase{"AVobReplacedByALink", Tamper::LinkedVob, "is a link",
                                Forced::StillRefused},
                      TrustCase{"NoRecord", Tamper::RecordRemoved, "holds no record",
                                Forced::BringsBackTheOriginal}),
    [](const ::testing::TestParamInfo<TrustCase>& info) { return std::string(info.param.name); });

TEST_F(CliBackup, TheBupComesBackAsItWasAndAnotherDiscsBackupIsNotOfferedForRestore) {
    // A .BUP that differs from its IFO (the IFO damaged, the .BUP the good copy) is kept whole.
    const std::string bup = Disc() + "/VTS_01_0.BUP";
    std::string bytes = ReadText(bup);
    bytes[bytes.size() - 1] ^= 0x5a;
    WriteText(bup, bytes);
    m_Original = ReadTree(Root());
    Clean({"-u"}, Disc());
    EXPECT_EQ(Cli({"restore", "--yes", Disc()}).status, 0);
    EXPECT_TRUE(ReadTree(Root()) == m_Original);

    // Another disc's leftover backup stops a run, and the refusal does not advise restoring it.
    LeaveForeignBackup();
    ChildResult clean = Cli({"clean", "-q", "-u", Disc()});
    EXPECT_EQ(clean.status, 2) << clean.err;
    EXPECT_NE(clean.err.find("not of these files"), std::string::npos) << clean.err;
    EXPECT_EQ(clean.err.find("Restore Backup to undo"), std::string::npos) << clean.err;
}

// A pseudo-terminal in raw mode, so the bytes the child writes arrive as they are.
class Terminal {
  public:
    explicit Terminal(unsigned short columns) {
        m_Master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(m_Master, 0);
        EXPECT_EQ(grantpt(m_Master), 0);
        EXPECT_EQ(unlockpt(m_Master), 0);
        m_Slave = open(ptsname(m_Master), O_RDWR | O_NOCTTY);
        EXPECT_GE(m_Slave, 0);
        termios mode{};
        tcgetattr(m_Slave, &mode);
        cfmakeraw(&mode);
        tcsetattr(m_Slave, TCSANOW, &mode);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        ioctl(m_Slave, TIOCSWINSZ, &size);
    }
    ~Terminal() {
        CloseSlave();
        close(m_Master);
    }
    ChildStreams Streams() const { return {m_Slave, m_Slave, m_Slave}; }
    void Type(const std::string& text) {
        EXPECT_EQ(write(m_Master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Everything the child writes until it has closed the terminal (reads then fail).
    std::string ReadToEnd() {
        CloseSlave();
        std::string bytes;
        char buffer[4096];
        for (ssize_t n; (n = read(m_Master, buffer, sizeof(buffer))) > 0;) {
            bytes.append(buffer, static_cast<size_t>(n));
        }
        return bytes;
    }

  private:
    void CloseSlave() {
        if (m_Slave >= 0) {
            close(m_Slave);
            m_Slave = -1;
        }
    }
    int m_Master = -1;
    int m_Slave = -1;
};

// The rows a terminal would show: a carriage return goes back to the start of the row, and
// what follows overwrites it.
std::vector<std::string> Screen(const std::string& bytes) {
    std::vector<std::string> rows(1);
    size_t column = 0;
    for (char c : bytes) {
        std::string& row = rows.back();
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            rows.emplace_back();
            column = 0;
        } else {
            if (column < row.size()) {
                row[column] = c;
            } else {
                row += c;
            }
            ++column;
        }
    }
    for (std::string& row : rows) {
        row.erase(row.find_last_not_of(' ') + 1);
    }
    return rows;
}

std::vector<std::string> ProgressDraws(const std::string& bytes) {
    std::vector<std::string> draws;
    static const std::regex kProgress("\\d+% Processed.*");
    std::string piece;
    for (char c : bytes + "\n") {
        if (c == '\r' || c == '\n') {
            if (std::regex_match(piece, kProgress)) {
                draws.push_back(piece);
            }
            piece.clear();
        } else {
            piece += c;
        }
    }
    return draws;
}

TEST_F(CliBackup, OnATerminalAProgressLineStaysBelowTheLogLines) {
    Terminal wide(120);
    ChildResult result =
        Wait(Spawn(DORVEX_CLI2_PATH, {"clean", "-u", "--log", Log(), Vob()}, wide.Streams()));
    std::string shown = wide.ReadToEnd();
    ASSERT_EQ(result.status, 0) << shown;

    std::vector<std::string> draws = ProgressDraws(shown);
    ASSERT_FALSE(draws.empty()) << shown;
    static const std::regex kFull(
        "\\d+% Processed \\(\\d+\\.\\d\\d MB/s\\) -- (\\d+:\\d\\d|--:--) secs to go -- "
        "VTS_01_[123]\\.VOB");
    for (const std::string& draw : draws) {
        EXPECT_TRUE(std::regex_match(draw, kFull)) << draw;
    }
    // Once the progress line is wiped, the screen holds the log lines and nothing else.
    std::vector<std::string> expected = ConsoleLinesOfLog(ReadText(Log()));
    expected.emplace_back();
    EXPECT_EQ(Screen(shown), expected);

    // A narrow terminal gets the line cut short rather than wrapped.
    MakeDamagedDisc(Path("narrow/VIDEO_TS"));
    Terminal narrow(40);
    result = Wait(Spawn(DORVEX_CLI2_PATH,
                        {"clean", "-u", "--log", Log(), Path("narrow/VIDEO_TS/VTS_01_1.VOB")},
                        narrow.Streams()));
    shown = narrow.ReadToEnd();
    ASSERT_EQ(result.status, 0) << shown;
    draws = ProgressDraws(shown);
    ASSERT_FALSE(draws.empty());
    for (const std::string& draw : draws) {
        EXPECT_LE(draw.size(), 39u) << draw;
    }

    // --quiet: not even the progress line.
    MakeDamagedDisc(Path("quiet/VIDEO_TS"));
    Terminal quiet(120);
    result = Wait(Spawn(DORVEX_CLI2_PATH,
                        {"clean", "-q", "--log", Log(), Path("quiet/VIDEO_TS/VTS_01_1.VOB")},
                        quiet.Streams()));
    EXPECT_EQ(quiet.ReadToEnd(), "");
    EXPECT_EQ(result.status, 0);
}

TEST_F(CliBackup, OnATerminalRestoreAsksFirst) {
    const Tree cleaned = Clean({"-u"});
    {
        Terminal terminal(80);
        pid_t pid = Spawn(DORVEX_CLI2_PATH, {"restore", Vob()}, terminal.Streams());
        terminal.Type("n\n");
        std::string shown = terminal.ReadToEnd();
        EXPECT_EQ(Wait(pid).status, 1) << shown;
        EXPECT_NE(shown.find("undoing the last run? [y/N] "), std::string::npos) << shown;
        EXPECT_TRUE(ReadTree(Root()) == cleaned);
    }
    Terminal terminal(80);
    pid_t pid = Spawn(DORVEX_CLI2_PATH, {"restore", Vob()}, terminal.Streams());
    terminal.Type("yes\n");
    std::string shown = terminal.ReadToEnd();
    EXPECT_EQ(Wait(pid).status, 0) << shown;
    EXPECT_TRUE(ReadTree(Root()) == m_Original);
}

}  // namespace
}  // namespace dorvex::clitest
