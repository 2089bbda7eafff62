#include "app/core/Headless.h"

#include <signal.h>

#include <cstdio>
#include <cstring>

#include "app/core/CommandLine.h"
#include "app/core/RunSession.h"
#include "support/FileSystem.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: dorvex [-c] [-u] [-s] [-i] [-f] [-v] [-a] [-w] [-l LogPath] [--] Filename.vob\n"
    "       dorvex -h | --help | --version\n"
    "  -c  empty the backup before processing\n"
    "  -u  remove unreferenced cells and blank packs\n"
    "  -s  start processing immediately\n"
    "  -i  process in place, without backup\n"
    "  -f  process the full DVD\n"
    "  -v  do not renumber VOB IDs\n"
    "  -a  reset ILVU pointers\n"
    "  -w  in place, wait until the file can be opened\n"
    "  -l  save the log to LogPath\n"
    "Switches may be written together (-su). Without a display, -s is needed.\n";

void WriteLineToStderr(const char* text) {
    // Standard output carries the log lines; flush them so the two streams stay in order on a
    // terminal.
    fflush(stdout);
    fprintf(stderr, "%s\n", text);
}

// Alerts wait for nobody here: an unattended run goes on, as it would after OK.
void StderrAlert(char* text, int32_t /*level*/) {
    WriteLineToStderr(text);
}

int RunCommandLine(const LaunchFields& parsed) {
    LaunchFields launch = parsed;
    if (!launch.m_StartNow) {
        // Without a display nothing else would start the run: doing the rest (deleting the
        // backup for -c) and ending with success would only look like a run.
        WriteLineToStderr(
            "dorvex: without a display only -s starts a run; add -s to clean the file "
            "(nothing was done)");
        return kExitUsage;
    }
    ApplyCommandLineSettings(launch.m_Options);
    CVtsCleaner engine;
    RunHooks hooks;
    // -c is asked for before anything else: a backup it may not delete ends the invocation.
    hooks.stopWhenBackupKept = true;
    RunSession session(engine, launch.m_Options, std::move(hooks));
    if (const RunStart start = session.Start(launch.m_FileArg); !start.Ready()) {
        if (!start.message.empty()) {
            WriteLineToStderr(start.message.c_str());
        }
        return 1;
    }
    const RunOutcome outcome = session.RunHere();
    const std::string state = DescribeOutcome(outcome, launch.m_Options.m_InPlace != 0);
    if (!state.empty()) {
        WriteLineToStderr(state.c_str());
    }
    return outcome.Unfinished() ? 1 : 0;
}

}  // namespace

int HandleLaunchRequests(const LaunchFields& launch) {
    if (launch.m_ShowHelp) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (launch.m_ShowVersion) {
        printf("%s\n", CVtsCleaner(TheRealFileSystem()).m_Banner.c_str());
        return 0;
    }
    if (!launch.m_UsageError.empty()) {
        fprintf(stderr, "dorvex: %s\n%s", launch.m_UsageError.c_str(), kUsage);
        return kExitUsage;
    }
    return -1;
}

int RunHeadless(int argc, const char* const* argv) {
    g_pfnAlert = StderrAlert;
    g_pfnLog = LogLine;
    // A reader that goes away (dorvex ... | head) must not kill a run half-way: the log echo
    // then just fails quietly, as a full disk would.
    signal(SIGPIPE, SIG_IGN);
    const LaunchFields launch = ParseCommandLine(argc, argv);
    if (const int status = HandleLaunchRequests(launch); status >= 0) {
        return status;
    }
    if (!launch.m_HasFileArg) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    const int status = RunCommandLine(launch);
    CloseLogFile();
    return status;
}

}  // namespace dorvex
