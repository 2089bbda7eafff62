// The headless dorvex's and the dialog's command line: the launch fields it fills and the
// options of the run it asks for.
#pragma once

#include <cstdint>
#include <string>

#include "app/core/RunOptions.h"

namespace dorvex {

// Launch fields carried from the command line into the front end.
struct LaunchFields {
    bool m_CommandLine = false;
    bool m_StartNow = false;
    bool m_ShowHelp = false;     // -h, --help
    bool m_ShowVersion = false;  // --version
    // Why the arguments cannot be used (an unknown option, -l without its path); empty when
    // they can.
    std::string m_UsageError;
    bool m_HasFileArg = false;
    std::string m_FileArg;
    // The switches' options: -a -c -f -i -l -u -v -w.
    RunOptions m_Options;
    // Outcome of a command-line invocation, the process exit status: 1 when the named file was
    // rejected or a run was interrupted (see RunSession), else 0.
    int32_t m_Result = 0;
};

// Walks the arguments after the program name into the launch fields and their options.
LaunchFields ParseCommandLine(int argc, const char* const* argv);

// Settings that command-line mode still takes from the INI file ("BackupAbove", "FixPGCLBAs");
// called by every command-line front end after parsing, before the file is opened.
void ApplyCommandLineSettings(RunOptions& options);

}  // namespace dorvex
