// Runs the built dorvex-cli (and the headless dorvex, to compare with) as child processes on
// synthetic DVD folders in a temporary folder: standard input from /dev/null, a file, or a
// pseudo-terminal, and the child's settings and default log kept inside that folder.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/ChildProcess.h"
#include "common/DiscBuilder.h"
#include "common/TempDir.h"

namespace dorvex::clitest {

namespace fs = std::filesystem;
using testkit::ChildResult;
using testkit::ChildStreams;
using testkit::ReadText;

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

using testkit::ReadTree;
using testkit::Tree;

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class CliHarness : public ::testing::Test {
  protected:
    std::string Dir() const { return m_Temp.Path(); }
    std::string Path(const std::string& name) const { return m_Temp / name; }

    // Settings file both programs read (the dialog's INI file).
    void WriteSettings(const std::string& lines) {
        fs::create_directories(Path("config"));
        WriteText(Path("config/dorvex.ini"), "[dorvex]\n" + lines);
    }

    // Input from /dev/null and output into files of the test, unless streams say otherwise.
    pid_t Spawn(const std::string& binary, const std::vector<std::string>& args,
                ChildStreams streams = {}) {
        return testkit::SpawnChild(binary, args, testkit::IsolatedEnvironment(Dir()), Dir(),
                                   streams);
    }
    ChildResult Wait(pid_t pid) { return testkit::WaitChild(pid, Dir()); }

    ChildResult Cli(const std::vector<std::string>& args) {
        return Wait(Spawn(DORVEX_CLI2_PATH, args));
    }
    ChildResult Headless(const std::vector<std::string>& args) {
        return Wait(Spawn(DORVEX_HEADLESS_PATH, args));
    }

    testkit::TempDir m_Temp;
};

using testkit::MakeDamagedDisc;

// The JSON text as "path=value" pairs (objects by member name, arrays as [i], an array's length
// as path#), parsed by Python's json module: a real parser, not this program's own writer.
std::map<std::string, std::string> ParseJson(const std::string& file);

// The log lines that go to standard error too: the file without the run's banner (written to
// the file alone) and without the end line (appended after the run).
std::vector<std::string> ConsoleLinesOfLog(const std::string& log);

}  // namespace dorvex::clitest
