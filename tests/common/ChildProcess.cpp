#include "common/ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

extern char** environ;

namespace dorvex::testkit {

namespace {

std::string CaptureFile(const std::string& dir, int fd) {
    return dir + (fd == STDOUT_FILENO ? "/stdout.txt" : "/stderr.txt");
}

// The null-terminated pointer array exec wants, pointing into strings.
std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> IsolatedEnvironment(const std::string& dir) {
    static const std::set<std::string> kDropped = {
        "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TEMP",
        "TMPDIR",  "APPDATA",         "XDG_CONFIG_HOME"};
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (kDropped.count(text.substr(0, text.find('='))) == 0) {
            env.push_back(text);
        }
    }
    std::filesystem::create_directories(dir + "/config");
    env.push_back("TEMP=" + dir);
    env.push_back("XDG_CONFIG_HOME=" + dir + "/config");
    return env;
}

pid_t SpawnChild(const std::string& program, const std::vector<std::string>& args,
                 std::vector<std::string> env, const std::string& captureDir,
                 ChildStreams streams) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (streams.in >= 0) {
        posix_spawn_file_actions_adddup2(&actions, streams.in, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    const std::pair<int, int> outputs[] = {{streams.out, STDOUT_FILENO},
                                           {streams.err, STDERR_FILENO}};
    for (const auto& [fd, target] : outputs) {
        const std::string file = CaptureFile(captureDir, target);
        if (fd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, fd, target);
            // An earlier child's capture must not pass for this one's.
            unlink(file.c_str());
        } else {
            posix_spawn_file_actions_addopen(&actions, target, file.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
    }
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp = Pointers(argv);
    std::vector<char*> envp = Pointers(env);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << strerror(rc);
    return pid;
}

ChildResult WaitChild(pid_t pid, const std::string& captureDir) {
    ChildResult result;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    if (pid > 0 && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    result.out = ReadText(CaptureFile(captureDir, STDOUT_FILENO));
    result.err = ReadText(CaptureFile(captureDir, STDERR_FILENO));
    return result;
}

}  // namespace dorvex::testkit
