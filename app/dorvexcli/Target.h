// What a subcommand works on: the PATH of its command line, resolved to the VOB the engine opens,
// and the backup folder that belongs to it.
#pragma once

#include <string>
#include <vector>

#include "app/core/RunOptions.h"
#include "engine/VtsCleaner.h"

namespace CLI {
class App;
}

namespace dorvex::cli {

// True when PATH names a folder (a disc), not a file.
bool IsFolderArgument(const std::string& path);

// Adds the PATH argument that every subcommand takes.
void AddPathArgument(CLI::App& command, std::string& path);

// The options that the command line still takes from the settings file (BackupAbove,
// FixPGCLBAs); --backup-above then overrides.
void ApplySettings(RunOptions& options, bool backupAbove);

// Resolves PATH and opens it as the headless dorvex does (the title-name check, then the engine's
// Open). On refusal prints why and returns false.
bool OpenTarget(CVtsCleaner& engine, const std::string& path, bool fullDvd);

// The backup folder of the opened VOB and the copies in it (only names the program gives its
// copies). A backup folder that is a link or a file is unsafe: nothing is done in it.
struct BackupListing {
    std::string folder;
    std::vector<std::string> files;
    bool unsafe = false;
};
BackupListing ListBackup(CVtsCleaner& engine);

// True when a backup file name belongs to the opened VOB's title set (VTS_xx_* for a title set,
// VIDEO_TS.* for the video manager), in any case.
bool BelongsToTitleSet(const std::string& vobPath, const std::string& fileName);

}  // namespace dorvex::cli
