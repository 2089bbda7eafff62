// What a run is asked to do, as a front end gathers it: the headless command line, dorvex-cli or
// the dialog fills one of these, and it reaches the engine's option fields in one place.
#pragma once

#include <cstdint>
#include <string>

namespace dorvex {

class CVtsCleaner;

struct RunOptions {
    // The processing options (0 or 1), named and bound to settings as the engine's fields are.
    int32_t m_RemoveUnrefed = 0;
    int32_t m_InPlace = 0;
    int32_t m_RemapVOBIDs = 1;
    int32_t m_ResetIlvu = 0;
    int32_t m_WaitForFile = 0;
    int32_t m_BackupAbove = 0;
    int32_t m_FixPGCLBAs = 1;
    // Clean a title set whose VOB files are shorter than its IFO says (or do not match it).
    int32_t m_AllowShort = 0;
    // Full DVD: empty the tables of a domain whose VOB is missing even when they still describe
    // sectors (dorvex-cli --prune-missing-vobs).
    int32_t m_PruneMissingVobs = 0;
    // The whole folder instead of one title set.
    bool m_FullDvd = false;
    // Delete the backup before the run.
    bool m_EmptyBackup = false;
    // The run's log file; empty for the default (DefaultLogPath), which, lying in a folder
    // anyone may write to, is never opened through a link.
    std::string m_LogPath;
    // The run adds its lines to the log file instead of replacing it (the second and later runs
    // of one dorvex-cli call).
    bool m_AppendLog = false;
    // A pause after entering each IFO phase, so that a progress display that shows phases has
    // them on screen for a moment (the dialog's choice); 0 for the front ends that show none.
    int32_t m_IfoPauseMs = 0;

    // Puts the options into the engine's fields, the log file included.
    void ApplyTo(CVtsCleaner& engine) const;
};

// "$TEMP/Dorvex.log", else "$TMPDIR/Dorvex.log", else "/tmp/Dorvex.log".
std::string DefaultLogPath();

}  // namespace dorvex
