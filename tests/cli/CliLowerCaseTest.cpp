// A disc whose names are all lower case (an ISO 9660 mount without Joliet or Rock Ridge, some
// copying tools) works with every dorvex-cli command as its upper-case twin does: the same exit
// status, the same report and the same bytes, under its own names.
#include <algorithm>
#include <cctype>

#include "CliHarness.h"

namespace dorvex::clitest {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    return text;
}

// The copy's own folder name left out, and the case of every name folded.
std::string Folded(std::string text, const std::string& root) {
    for (size_t at; (at = text.find(root)) != std::string::npos;) {
        text.replace(at, root.size(), "ROOT");
    }
    return Lower(text);
}

// The backup folder's own name is the program's in either case.
Tree FoldedTree(const Tree& tree) {
    Tree folded;
    for (const auto& [name, bytes] : tree) {
        folded[Lower(name)] = bytes;
    }
    return folded;
}

class CliLowerCase : public CliHarness {
  protected:
    void SetUp() override {
        MakeDamagedDisc(Path("upper/disc/VIDEO_TS"));
        MakeDamagedDisc(Path("lower/disc/VIDEO_TS"));
        for (const auto& entry : fs::directory_iterator(Path("lower/disc/VIDEO_TS"))) {
            fs::rename(entry.path(),
                       entry.path().parent_path() / Lower(entry.path().filename().string()));
        }
        fs::rename(Path("lower/disc/VIDEO_TS"), Path("lower/disc/video_ts"));
        m_Original = ReadTree(Path("upper"));
    }

    Tree m_Original;
};

TEST_F(CliLowerCase, EveryCommandTreatsALowerCaseDiscAsItsUpperCaseTwin) {
    struct Step {
        std::vector<std::string> args;
        const char* target;  // under the copy's root, in upper case
    };
    const Step steps[] = {
        {{"check", "--json"}, "disc"},
        {{"plan", "-u", "--json"}, "disc/VIDEO_TS"},
        {{"check"}, "disc/VIDEO_TS/VTS_01_0.IFO"},
        {{"clean", "-u", "-q", "--log", Path("run.log")}, "disc"},
        {{"plan", "-u", "-f"}, "disc/VIDEO_TS/VTS_01_1.VOB"},
        {{"restore", "--yes"}, "disc"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args.front() + " " + step.target);
        ChildResult results[2];
        for (int i = 0; i < 2; ++i) {
            const std::string root = Path(i == 0 ? "upper" : "lower");
            std::vector<std::string> args = step.args;
            args.push_back(root + "/" + (i == 0 ? step.target : Lower(step.target)));
            results[i] = Cli(args);
            results[i].out = Folded(results[i].out, root);
            results[i].err = Folded(results[i].err, root);
        }
        EXPECT_EQ(results[1].status, results[0].status) << results[1].err;
        EXPECT_EQ(results[1].out, results[0].out);
        EXPECT_EQ(results[1].err, results[0].err);
        EXPECT_TRUE(FoldedTree(ReadTree(Path("lower"))) == FoldedTree(ReadTree(Path("upper"))));
    }
    EXPECT_TRUE(ReadTree(Path("upper")) == m_Original);
}

}  // namespace
}  // namespace dorvex::clitest
