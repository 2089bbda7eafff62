#include "app/dorvexcli/Target.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>

#include "app/core/CommandLine.h"
#include "app/core/DiscFolder.h"
#include "app/core/OpenCheck.h"
#include "app/dorvexcli/Console.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

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

BackupListing ListBackup(CVtsCleaner& engine) {
    BackupListing listing;
    listing.folder = StripSeparator(engine.BackupFolder());
    const FileKind kind = engine.m_Files.KindOf(listing.folder);
    listing.unsafe = kind != FileKind::Missing && kind != FileKind::Folder;
    if (kind != FileKind::Folder) {
        return listing;
    }
    for (const std::string& name : engine.m_Files.ListFiles(engine.BackupFolder())) {
        if (IsDvdFileName(name)) {
            listing.files.push_back(name);
        }
    }
    std::sort(listing.files.begin(), listing.files.end());
    return listing;
}

bool BelongsToTitleSet(const std::string& vobPath, const std::string& fileName) {
    const int32_t titleSet = TitleSetOf(vobPath);
    return titleSet >= 0 && IsDvdFileName(fileName) && TitleSetOf(fileName) == titleSet;
}

}  // namespace dorvex::cli
