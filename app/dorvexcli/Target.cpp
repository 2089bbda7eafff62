#include "app/dorvexcli/Target.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <regex>

#include "app/core/RunSteps.h"
#include "app/dorvexcli/Console.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex::cli {

namespace {

namespace fs = std::filesystem;

// The VOBs of a folder that can start a run, lowest title set first.
struct FolderVobs {
    std::string firstTitle;  // VTS_xx_1.VOB
    std::string firstMenu;   // VTS_xx_0.VOB
    std::string videoManager;
    bool Empty() const { return firstTitle.empty() && firstMenu.empty() && videoManager.empty(); }
};

FolderVobs ScanFolder(const fs::path& folder) {
    static const std::regex kTitleSetVob("VTS_(\\d\\d)_([01])\\.VOB", std::regex::icase);
    FolderVobs vobs;
    int titleNumber = 100;
    int menuNumber = 100;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (!entry.is_regular_file(error)) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        std::smatch match;
        if (std::regex_match(name, match, kTitleSetVob)) {
            int number = std::stoi(match[1].str());
            bool title = match[2].str() == "1";
            int& lowest = title ? titleNumber : menuNumber;
            if (number < lowest) {
                lowest = number;
                (title ? vobs.firstTitle : vobs.firstMenu) = entry.path().string();
            }
        } else if (EqualsIgnoreCase(name, "VIDEO_TS.VOB")) {
            vobs.videoManager = entry.path().string();
        }
    }
    return vobs;
}

// A disc folder holds its files in VIDEO_TS, whatever the case of the name.
fs::path VideoTsInside(const fs::path& folder) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_directory(error) &&
            EqualsIgnoreCase(entry.path().filename().string(), "VIDEO_TS")) {
            return entry.path();
        }
    }
    return {};
}

}  // namespace

bool IsFolderArgument(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

void AddPathArgument(CLI::App& command, std::string& path) {
    command.add_option("PATH", path, "A VOB, or a VIDEO_TS folder (its first VTS_xx_1.VOB)")
        ->required()
        ->type_name("");
}

std::string ResolveVob(const std::string& path, bool fullDvd, std::string& error) {
    std::error_code code;
    fs::file_status status = fs::status(path, code);
    if (!fs::exists(status)) {
        error = path + ": no such file or folder";
        return {};
    }
    if (!fs::is_directory(status)) {
        return path;
    }
    FolderVobs vobs = ScanFolder(path);
    if (vobs.Empty()) {
        fs::path inner = VideoTsInside(path);
        if (!inner.empty()) {
            vobs = ScanFolder(inner);
        }
    }
    if (!vobs.firstTitle.empty()) {
        return vobs.firstTitle;
    }
    if (fullDvd && !vobs.firstMenu.empty()) {
        return vobs.firstMenu;
    }
    if (fullDvd && !vobs.videoManager.empty()) {
        return vobs.videoManager;
    }
    error = path + ": no title set VOB (VTS_xx_1.VOB) in this folder";
    return {};
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
    std::string base = GetBaseName(vobPath);
    std::string prefix;
    if (EqualsIgnoreCase(base, "video_ts")) {
        prefix = "VIDEO_TS.";
    } else {
        // VTS_01_1 -> VTS_01_: the title set's menu, title VOBs and IFO files.
        prefix = base.substr(0, base.rfind('_') + 1);
    }
    return !prefix.empty() && fileName.size() >= prefix.size() &&
           EqualsIgnoreCase(fileName.substr(0, prefix.size()), prefix);
}

}  // namespace dorvex::cli
