#include "app/core/RunSteps.h"

#include "support/IniSettings.h"

namespace dorvex {

LaunchFields ParseCommandLine(int argc, const char* const* argv) {
    LaunchFields fields;
    RunOptions& options = fields.m_Options;
    if (argc <= 1) {
        return fields;
    }
    fields.m_CommandLine = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') {
            fields.m_FileArg = arg;
            fields.m_HasFileArg = true;
            continue;
        }
        // Only the letter right after the dash counts: "-usi" is "-u".
        switch (arg[1]) {
            case 'a':
                options.m_ResetIlvu = 1;
                break;
            case 'c':
                options.m_EmptyBackup = true;
                break;
            case 'f':
                options.m_FullDvd = true;
                break;
            case 'i':
                options.m_InPlace = 1;
                break;
            case 'l':
                // The path is taken whatever it looks like, even "-s"; a trailing "-l" with
                // nothing after it is ignored.
                if (i + 1 < argc) {
                    options.m_LogPath = argv[++i];
                }
                break;
            case 's':
                fields.m_StartNow = true;
                break;
            case 'u':
                options.m_RemoveUnrefed = 1;
                break;
            case 'v':
                options.m_RemapVOBIDs = 0;
                break;
            case 'w':
                options.m_WaitForFile = 1;
                break;
            default:
                break;
        }
    }
    return fields;
}

void ApplyCommandLineSettings(RunOptions& options) {
    // The three processing options come from the command line alone; these two have no switch.
    CIniSettings settings;
    settings.BindInt(&options.m_BackupAbove, "BackupAbove", options.m_BackupAbove);
    settings.BindInt(&options.m_FixPGCLBAs, "FixPGCLBAs", 1);
}

}  // namespace dorvex
