// check --html, plan --html and --svg on the damaged synthetic disc: the HTML is read by Python's
// HTML parser and each map by its XML parser, with the figures of its tables against --json's;
// the report files are new files only, never a file of the user's replaced or a link followed.
#include <sys/stat.h>

#include "CliHarness.h"

namespace dorvex::clitest {
namespace {

const std::string kScript = DORVEX_SOURCE_DIR "/tests/cli/map_report.py";

class CliMapTest : public CliHarness {
  protected:
    void SetUp() override { MakeDamagedDisc(Path("disc")); }
};

struct Report {
    const char* name;
    std::vector<std::string> args;  // without --html / --json and the PATH
};

TEST_F(CliMapTest, HtmlParsesAndShowsTheFiguresOfJson) {
    const Report reports[] = {{"check", {"check"}},
                              {"plan", {"plan"}},
                              {"plan-u", {"plan", "-u"}},
                              {"plan-full", {"plan", "-u", "-f"}}};
    for (const Report& report : reports) {
        SCOPED_TRACE(report.name);
        const std::string html = Path(std::string(report.name) + ".html");
        std::vector<std::string> args = report.args;
        args.insert(args.end(), {"--json", "--html", html, Path("disc")});
        const ChildResult result = Cli(args);
        ASSERT_LE(result.status, 1) << result.err;
        const std::string json = Path(std::string(report.name) + ".json");
        WriteText(json, result.out);
        EXPECT_EQ(
            std::system(("python3 '" + kScript + "' parse '" + html + "' '" + json + "'").c_str()),
            0);
    }
}

TEST_F(CliMapTest, ReportFilesAreNewFilesOnly) {
    WriteText(Path("mine.html"), "the user's own");
    WriteText(Path("elsewhere.txt"), "not to be touched");
    fs::create_symlink(Path("elsewhere.txt"), Path("link.html"));
    fs::create_symlink(Path("nowhere.txt"), Path("dangling.html"));
    for (const std::string command : {"check", "plan"}) {
        for (const char* name : {"mine.html", "link.html", "dangling.html"}) {
            SCOPED_TRACE(command + " --html " + name);
            const ChildResult result = Cli({command, "--html", Path(name), Path("disc")});
            EXPECT_EQ(result.status, 2);
            EXPECT_NE(result.err.find("exists already"), std::string::npos) << result.err;
        }
    }
    EXPECT_EQ(ReadText(Path("mine.html")), "the user's own");
    EXPECT_EQ(ReadText(Path("elsewhere.txt")), "not to be touched");
    EXPECT_TRUE(fs::is_symlink(Path("link.html")));
    EXPECT_FALSE(fs::exists(Path("nowhere.txt")));
}

TEST_F(CliMapTest, SvgOnePerTitleSetAndNeverOverAFile) {
    EXPECT_EQ(Cli({"check", "--svg", Path("no-such-folder"), Path("disc")}).status, 2);
    fs::create_directories(Path("maps"));
    ASSERT_EQ(Cli({"check", "--svg", Path("maps"), Path("disc")}).status, 1);
    // The disc has no VIDEO_TS.VOB: the video manager has no stream to draw.
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(Path("maps"))) {
        written.push_back(entry.path().filename());
    }
    ASSERT_EQ(written, std::vector<std::string>{"VTS_01.svg"});
    {
        const std::string svg = Path("maps/VTS_01.svg");
        EXPECT_EQ(std::system(("python3 -c 'import sys, xml.etree.ElementTree as E; "
                               "sys.exit(E.parse(sys.argv[1]).getroot().tag != "
                               "\"{http://www.w3.org/2000/svg}svg\")' '" +
                               svg + "'")
                                  .c_str()),
                  0);
    }
    const std::string before = ReadText(Path("maps/VTS_01.svg"));
    const ChildResult again = Cli({"plan", "-u", "--svg", Path("maps"), Path("disc")});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
    EXPECT_EQ(ReadText(Path("maps/VTS_01.svg")), before);
}

}  // namespace
}  // namespace dorvex::clitest
