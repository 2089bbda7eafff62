#include "app/dorvexcli/Target.h"

#include <CLI/CLI.hpp>
#include <filesystem>

#include "app/core/CommandLine.h"
#include "app/core/DiscFolder.h"
#include "app/core/OpenCheck.h"
#include "app/dorvexcli/Console.h"

namespace dorvex::cli {

bool IsFolderArgument(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

void AddPathArgument(CLI::App& command, std::string& path) {
    command.add_option("PATH", path, "A VOB, or a VIDEO_TS folder (its first VTS_xx_1.VOB)")
        ->required()
        ->type_name("");
}

void ApplySettings(RunOptions& options, bool backupAbove) {
    ApplyCommandLineSettings(options);
    if (backupAbove) {
        options.m_BackupAbove = 1;
    }
}

bool OpenTarget(CVtsCleaner& engine, const std::string& path, bool fullDvd) {
    std::string error;
    std::string vob = ResolveVob(path, fullDvd, error);
    if (vob.empty()) {
        PrintError(error);
        return false;
    }
    auto showMessage = [](const std::string& text) { PrintError(text); };
    return CheckedOpen(engine, vob, true, showMessage) == 0;
}

}  // namespace dorvex::cli
