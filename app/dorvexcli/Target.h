// What a subcommand works on: the PATH of its command line, resolved to the VOB the engine opens.
#pragma once

#include <string>

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

}  // namespace dorvex::cli
