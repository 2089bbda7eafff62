#include "app/core/Headless.h"

#include <signal.h>

#include <cstdio>
#include <cstring>

#include "app/core/RunSession.h"
#include "app/core/RunSteps.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: dorvex [-c] [-u] [-s] [-i] [-f] [-v] [-a] [-w] [-l LogPath] Filename.vob\n"
    "  -c  empty the backup before processing\n"
    "  -u  remove unreferenced cells and blank packs\n"
    "  -s  start processing immediately\n"
    "  -i  process in place, without backup\n"
    "  -f  process the full DVD\n"
    "  -v  do not renumber VOB IDs\n"
    "  -a  reset ILVU pointers\n"
    "  -w  in place, wait until the file can be opened\n"
    "  -l  save the log to LogPath\n";

void WriteLineToStderr(const char* text) {
    // Log lines on standard output have no line ends; flush them so the two streams stay in
    // order on a terminal.
    fflush(stdout);
    fprintf(stderr, "%s\n", text);
}

// Alerts wait for nobody here: an unattended run goes on, as it would after OK.
void StderrAlert(char* text, int32_t /*level*/) {
    WriteLineToStderr(text);
}

int RunCommandLine(int argc, const char* const* argv) {
    CVtsCleaner engine;
    // Nothing shows the IFO phases here: their display pauses would only add 0.8 s per step.
    engine.m_IfoPauseMs = 0;
    LaunchFields launch = ParseCommandLine(argc, argv);
    ApplyCommandLineSettings(launch.m_Options);
    launch.m_Options.ApplyTo(engine);
    if (!launch.m_HasFileArg) {
        return 0;
    }
    auto showMessage = [](const std::string& text) { WriteLineToStderr(text.c_str()); };
    if (CheckedOpen(engine, launch.m_FileArg, true, showMessage) != 0) {
        return 1;
    }
    if (launch.m_Options.m_EmptyBackup) {
        engine.DeleteBackup();
    }
    if (launch.m_StartNow) {
        const RunOutcome outcome = RunSession(engine, launch.m_Options).RunHere();
        // In place nothing can be undone; a failed write still must not pass for success.
        launch.m_Result = outcome.restored || outcome.failed ? 1 : 0;
    }
    return launch.m_Result;
}

}  // namespace

int RunHeadless(int argc, const char* const* argv) {
    g_pfnAlert = StderrAlert;
    // A reader that goes away (dorvex ... | head) must not kill a run half-way: the log echo
    // then just fails quietly, as a full disk would.
    signal(SIGPIPE, SIG_IGN);
    if (argc <= 1) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    int status = RunCommandLine(argc, argv);
    CloseLogFile();
    // The log lines carry no line ends; let the shell prompt start on a line of its own.
    fputs("\n", stdout);
    fflush(stdout);
    return status;
}

}  // namespace dorvex
