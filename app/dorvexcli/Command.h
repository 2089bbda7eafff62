// The subcommands of dorvex-cli. Each lives in its own source file and is listed once in main.cpp;
// the shared pieces (opening PATH, the console sinks, confirmation) are in Target.h and Console.h.
#pragma once

#include <memory>

namespace CLI {
class App;
}

namespace dorvex::cli {

inline constexpr int kExitOk = 0;
// The run failed or was interrupted (a run from backup is then restored), or the user declined.
inline constexpr int kExitFailed = 1;
// Bad usage, or input the program refuses to work on.
inline constexpr int kExitUsage = 2;

// Shown at the end of every --help text.
inline constexpr const char* kExitStatusHelp =
    "Exit status:\n"
    "  0  success\n"
    "  1  the run failed or was interrupted (Ctrl-C, SIGTERM, a read, write or save error;\n"
    "     a run from backup is then restored), or a confirmation was answered no\n"
    "  2  bad usage, or refused input (not a title-set VOB, no backup to restore or delete,\n"
    "     no terminal to confirm on and no --yes)\n";

// clean and plan: the pruning of a full-DVD run's domains whose VOB is missing.
inline constexpr const char* kPruneMissingVobsHelp =
    "With -f: empty the tables of a domain whose VOB is missing even when they still describe\n"
    "sectors (a menu VOB removed on purpose); without it they are left as they are";

class Command {
  public:
    virtual ~Command() = default;
    // Adds the subcommand and its options to the program's parser and returns it.
    virtual CLI::App* AddTo(CLI::App& program) = 0;
    // Called when the parse chose this subcommand; returns the exit status.
    virtual int Run() = 0;
};

std::unique_ptr<Command> MakeCleanCommand();
std::unique_ptr<Command> MakeRestoreCommand();
std::unique_ptr<Command> MakeDeleteBackupCommand();
std::unique_ptr<Command> MakeCheckCommand();
std::unique_ptr<Command> MakePlanCommand();

}  // namespace dorvex::cli
