#include "app/core/RunSteps.h"

#include "support/IniSettings.h"

namespace dorvex {

LaunchFields ParseCommandLine(int argc, const char* const* argv, CVtsCleaner& engine) {
    LaunchFields fields;
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
                engine.m_ResetIlvu = 1;
                break;
            case 'c':
                fields.m_EmptyBackup = true;
                break;
            case 'f':
                fields.m_FullDvd = true;
                break;
            case 'i':
                engine.m_InPlace = 1;
                break;
            case 'l':
                // The path is taken whatever it looks like, even "-s"; a trailing "-l" with
                // nothing after it is ignored.
                if (i + 1 < argc) {
                    engine.m_LogPath = argv[++i];
                    fields.m_DefaultLogPath = false;
                }
                break;
            case 's':
                fields.m_StartNow = true;
                break;
            case 'u':
                engine.m_RemoveUnrefed = 1;
                break;
            case 'v':
                engine.m_RemapVOBIDs = 0;
                break;
            case 'w':
                engine.m_WaitForFile = 1;
                break;
            default:
                break;
        }
    }
    return fields;
}

void ApplyCommandLineSettings(CVtsCleaner& engine) {
    // The three processing options come from the command line alone; these two have no switch.
    CIniSettings settings;
    settings.BindInt(&engine.m_BackupAbove, "BackupAbove", engine.m_BackupAbove);
    settings.BindInt(&engine.m_FixPGCLBAs, "FixPGCLBAs", 1);
}

}  // namespace dorvex
