// The command line without a user interface: messages and alerts on standard error, log lines
// on standard output, the run on the calling thread.
#pragma once

namespace dorvex {

struct LaunchFields;

// Runs one command-line invocation and returns the process exit status: 0 when the run did all
// it was asked; 1 for a rejected file, a refused, failed or interrupted run; 2 for bad usage
// (a usage text is printed), or without -s.
int RunHeadless(int argc, const char* const* argv);

// --help, --version and bad usage, for either front end: prints what they ask for and returns
// the exit status, or -1 when the arguments ask for a run or the dialog.
int HandleLaunchRequests(const LaunchFields& launch);

}  // namespace dorvex
