// Runs a built program as a child process: standard streams on descriptors of the test, or
// input from /dev/null and output into capture files read back once the child has ended.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace dorvex::testkit {

struct ChildResult {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;  // the capture files; empty for a stream sent to a descriptor
    std::string err;
};

// Descriptors of the test for the child's standard streams; -1 keeps the default.
struct ChildStreams {
    int in = -1;
    int out = -1;
    int err = -1;
};

// The bytes of the file at path; empty when it cannot be read.
std::string ReadText(const std::string& path);

// This process's environment, but with no display (a build with the dialog then runs
// headless), and TEMP (the default log) and the settings folder (dir/config) inside dir, so
// a child neither reads a developer's settings nor writes to a shared place.
std::vector<std::string> IsolatedEnvironment(const std::string& dir);

// Starts program with args and env; output not sent to a descriptor goes to
// captureDir/stdout.txt and captureDir/stderr.txt.
pid_t SpawnChild(const std::string& program, const std::vector<std::string>& args,
                 std::vector<std::string> env, const std::string& captureDir,
                 ChildStreams streams = {});
// Waits for the child started by SpawnChild and reads back its capture files.
ChildResult WaitChild(pid_t pid, const std::string& captureDir);

}  // namespace dorvex::testkit
