// The application shell's steps that do not depend on a user interface: the command line, the
// dialog's file check, the start and end of a run, the restore after an interrupted run, and
// the progress arithmetic. The headless command line and the Qt dialog both run these.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/core/RunOptions.h"
#include "engine/VtsCleaner.h"

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

// How a front end shows a message that waits for OK (a message box, or standard error).
using ShowMessageFn = std::function<void(const std::string& text)>;

inline constexpr const char* kMsgNotTitleVob =
    "Dorvex can only process title vobs (VTS_xx_[1-10].VOB)";
inline constexpr const char* kMsgOpenFailedCommandLine = "Couldn't open input file, exiting";
inline constexpr const char* kMsgOpenFailedInteractive = "Please, drag/drop a VOB file";

// True when a file title has the VTS_xx_N shape "%*[^_]_%d_%d" (a word, then two underscored
// numbers; anything after the second number ignored) or is "video_ts" in any case.
bool IsProcessableTitle(const std::string& fileTitle);

// The front end's Open: the VTS_xx_N name check, then the engine's base Open (never a subclass
// override, so a dialog engine may call this from its own Open), with the messages of the
// dialog. Returns 0 when accepted, -1 when rejected.
int32_t CheckedOpen(CVtsCleaner& engine, const std::string& path, bool commandLine,
                    const ShowMessageFn& showMessage);

// The local time formatted with a strftime format such as "End Processing at %H:%M:%S".
std::string LocalTimeText(const char* format);

// A millisecond clock that wraps at 2^32, for the throughput estimate.
uint32_t MillisecondClock();

// The 200 ms progress display's arithmetic: throughput estimate, percentage and time to go.
// One estimator lives as long as its front end: it is not reset between runs.
struct ThroughputEstimator {
    float m_fSpeed = 20.0f;  // MB (1048576 bytes) per second
    uint32_t m_dwSpeedTick = 0;
    int32_t m_nSpeedRead = 0;
    int32_t m_nSpeedTotal = 0;

    // Takes a measuring point when due (phase 1, not paused, more than 2000 ms since the last).
    void Tick(uint32_t now, int32_t phase, bool paused, int32_t readTotal, uint32_t totalSectors);
};

// Text of line 1003 for a phase; for phase 1 the percentage, speed and time to go.
std::string FormatPhaseLine(int32_t phase, const ThroughputEstimator& speed, int32_t readTotal,
                            uint32_t totalSectors);
// Progress bar position 0..99 within the current file.
int32_t ProgressBarPosition(int32_t readInFile, int32_t fileSectors);

}  // namespace dorvex
