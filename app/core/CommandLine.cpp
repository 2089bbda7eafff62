#include "app/core/CommandLine.h"

#include <cstring>

#include "support/IniSettings.h"

namespace dorvex {

namespace {

// One switch letter; false for a letter that is not a switch.
bool ApplySwitch(char letter, LaunchFields& fields) {
    RunOptions& options = fields.m_Options;
    switch (letter) {
        case 'a':
            options.m_ResetIlvu = 1;
            return true;
        case 'c':
            options.m_EmptyBackup = true;
            return true;
        case 'f':
            options.m_FullDvd = true;
            return true;
        case 'h':
            fields.m_ShowHelp = true;
            return true;
        case 'i':
            options.m_InPlace = 1;
            return true;
        case 's':
            fields.m_StartNow = true;
            return true;
        case 'u':
            options.m_RemoveUnrefed = 1;
            return true;
        case 'v':
            options.m_RemapVOBIDs = 0;
            return true;
        case 'w':
            options.m_WaitForFile = 1;
            return true;
        default:
            return false;
    }
}

}  // namespace

LaunchFields ParseCommandLine(int argc, const char* const* argv) {
    LaunchFields fields;
    if (argc <= 1) {
        return fields;
    }
    fields.m_CommandLine = true;
    bool filesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (filesOnly || arg[0] != '-') {
            fields.m_FileArg = arg;
            fields.m_HasFileArg = true;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            filesOnly = true;  // what follows is a file, even when it starts with "-"
            continue;
        }
        if (std::strcmp(arg, "--help") == 0) {
            fields.m_ShowHelp = true;
            continue;
        }
        if (std::strcmp(arg, "--version") == 0) {
            fields.m_ShowVersion = true;
            continue;
        }
        if (arg[1] == '\0' || arg[1] == '-') {
            fields.m_UsageError = std::string("unknown option ") + arg;
            return fields;
        }
        // Switches may come together (-su is -s -u); -l takes the rest of its argument or,
        // when nothing follows it there, the next argument, whatever it looks like.
        for (const char* letter = arg + 1; *letter != '\0'; ++letter) {
            if (*letter == 'l') {
                if (letter[1] != '\0') {
                    fields.m_Options.m_LogPath = letter + 1;
                } else if (i + 1 < argc) {
                    fields.m_Options.m_LogPath = argv[++i];
                } else {
                    fields.m_UsageError = "-l needs the path of the log file";
                    return fields;
                }
                break;
            }
            if (!ApplySwitch(*letter, fields)) {
                fields.m_UsageError = std::string("unknown option -") + *letter;
                return fields;
            }
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
