// The command line without a user interface: messages and alerts on standard error, log lines
// on standard output, the run on the calling thread.
#pragma once

namespace dorvex {

// Runs one command-line invocation and returns the process exit status: 0, 1 for a rejected
// file or an interrupted run, 2 when called without arguments (a usage text is printed).
int RunHeadless(int argc, const char* const* argv);

}  // namespace dorvex
