// Runs the built dorvex-cli (and the headless dorvex, to compare with) as child processes on
// synthetic DVD folders in a temporary folder: standard input from /dev/null, a file, or a
// pseudo-terminal, and the child's settings and default log kept inside that folder.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/TempDir.h"

extern char** environ;

namespace dorvex::clitest {

namespace fs = std::filesystem;

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Every regular file under a folder by its path relative to it, with its bytes.
using Tree = std::map<std::string, std::string>;
inline Tree ReadTree(const std::string& folder) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            tree[fs::relative(entry.path(), folder).string()] = ReadText(entry.path().string());
        }
    }
    return tree;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct ChildResult {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// Where the child's three standard streams go; -1 leaves the harness's default (/dev/null for
// input, files of the test for the two outputs).
struct ChildStreams {
    int in = -1;
    int out = -1;
    int err = -1;
};

class CliHarness : public ::testing::Test {
  protected:
    std::string Dir() const { return m_Temp.Path(); }
    std::string Path(const std::string& name) const { return m_Temp / name; }

    // The child sees no display (dorvex then runs headless), and settings and the default log
    // in folders of the test.
    std::vector<std::string> ChildEnvironment() const {
        std::vector<std::string> env;
        const char* dropped[] = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "TEMP=",
                                 "TMPDIR=",  "APPDATA=",         "XDG_CONFIG_HOME="};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::string text = *entry;
            bool keep = true;
            for (const char* drop : dropped) {
                keep = keep && text.rfind(drop, 0) != 0;
            }
            if (keep) {
                env.push_back(text);
            }
        }
        fs::create_directories(Path("config"));
        env.push_back("TEMP=" + Dir());
        env.push_back("XDG_CONFIG_HOME=" + Path("config"));
        return env;
    }

    // Settings file both programs read (the dialog's INI file).
    void WriteSettings(const std::string& lines) {
        fs::create_directories(Path("config"));
        WriteText(Path("config/dorvex.ini"), "[dorvex]\n" + lines);
    }

    pid_t Spawn(const std::string& binary, const std::vector<std::string>& args,
                ChildStreams streams = {}) {
        std::vector<std::string> argStrings = {binary};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : argStrings) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> envStrings = ChildEnvironment();
        std::vector<char*> envp;
        for (std::string& entry : envStrings) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (streams.in >= 0) {
            posix_spawn_file_actions_adddup2(&actions, streams.in, STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        const int fds[2] = {streams.out, streams.err};
        const std::string files[2] = {OutPath(), ErrPath()};
        for (int i = 0; i < 2; ++i) {
            if (fds[i] >= 0) {
                posix_spawn_file_actions_adddup2(&actions, fds[i], STDOUT_FILENO + i);
            } else {
                posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO + i, files[i].c_str(),
                                                 O_WRONLY | O_CREAT | O_TRUNC, 0644);
            }
        }
        pid_t pid = -1;
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0) << strerror(rc);
        return pid;
    }

    ChildResult Wait(pid_t pid) {
        ChildResult result;
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
        }
        result.out = ReadText(OutPath());
        result.err = ReadText(ErrPath());
        return result;
    }

    ChildResult Cli(const std::vector<std::string>& args) {
        return Wait(Spawn(DORVEX_CLI2_PATH, args));
    }
    ChildResult Headless(const std::vector<std::string>& args) {
        return Wait(Spawn(DORVEX_HEADLESS_PATH, args));
    }

    std::string OutPath() const { return m_Temp / "stdout.txt"; }
    std::string ErrPath() const { return m_Temp / "stderr.txt"; }

    testkit::TempDir m_Temp;
};

// A small damaged disc in folder (created): VIDEO_TS.IFO for one title set; title set 1 with a
// menu VOB and its titles over three VOB files, blank packs inside cells and a cell that the
// title's program chain no longer plays.
void MakeDamagedDisc(const std::string& folder);

// The log lines that go to standard error too: the file without the run's banner (written to
// the file alone) and without the end line (appended after the run).
std::vector<std::string> ConsoleLinesOfLog(const std::string& log);

}  // namespace dorvex::clitest
