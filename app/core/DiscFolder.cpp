#include "app/core/DiscFolder.h"

#include <filesystem>
#include <optional>

#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

namespace fs = std::filesystem;

std::string WithSeparator(std::string folder) {
    if (folder.empty() || !IsPathSeparator(folder.back())) {
        folder += kPathSeparator;
    }
    return folder;
}

// Any entry counts, as the checker reads what the folder shows whatever its type.
bool HoldsIfo(const fs::path& folder) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::optional<DvdNameParts> name = ParseDvdFileName(entry.path().filename().string());
        if (name && name->kind == DvdFileKind::Ifo) {
            return true;
        }
    }
    return false;
}

bool Holds(const fs::path& folder, DiscFiles files) {
    if (files == DiscFiles::Ifo) {
        return HoldsIfo(folder);
    }
    return !FirstVobInFolder(TheRealFileSystem(), WithSeparator(folder.string()), true).empty();
}

// A disc folder holds its files in VIDEO_TS, whatever the case of the name.
std::optional<fs::path> VideoTsHolding(const fs::path& folder, DiscFiles files) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_directory(error) &&
            EqualsIgnoreCase(entry.path().filename().string(), "VIDEO_TS") &&
            Holds(entry.path(), files)) {
            return entry.path();
        }
    }
    return std::nullopt;
}

}  // namespace

std::string ResolveDiscFolder(const std::string& path, DiscFiles files, std::string& error) {
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (!fs::exists(status)) {
        error = path + ": no such file or folder";
        return {};
    }
    fs::path folder = fs::is_directory(status) ? fs::path(path) : fs::path(path).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    if (Holds(folder, files)) {
        return WithSeparator(folder.string());
    }
    if (const std::optional<fs::path> inner = VideoTsHolding(folder, files)) {
        return WithSeparator(inner->string());
    }
    error = path + (files == DiscFiles::Ifo ? ": no VIDEO_TS.IFO or VTS_xx_0.IFO here"
                                            : ": no title set VOB (VTS_xx_1.VOB) in this folder");
    return {};
}

std::string FirstVobInFolder(FileSystem& files, const std::string& folder, bool fullDvd) {
    std::string firstTitle;  // VTS_xx_1.VOB
    std::string firstMenu;   // VTS_xx_0.VOB
    std::string videoManager;
    int32_t titleNumber = kLastTitleSet + 1;
    int32_t menuNumber = kLastTitleSet + 1;
    for (const std::string& name : files.ListFiles(folder)) {
        const std::optional<DvdNameParts> parts = ParseDvdFileName(name);
        if (!parts || parts->kind != DvdFileKind::Vob || parts->part > kFirstTitleVobPart) {
            continue;
        }
        if (parts->titleSet == kVideoManager) {
            videoManager = folder + name;
            continue;
        }
        const bool title = parts->part == kFirstTitleVobPart;
        int32_t& lowest = title ? titleNumber : menuNumber;
        if (parts->titleSet < lowest) {
            lowest = parts->titleSet;
            (title ? firstTitle : firstMenu) = folder + name;
        }
    }
    if (!firstTitle.empty() || !fullDvd) {
        return firstTitle;
    }
    return !firstMenu.empty() ? firstMenu : videoManager;
}

std::string ResolveVob(const std::string& path, bool fullDvd, std::string& error) {
    std::error_code code;
    if (fs::exists(path, code) && !fs::is_directory(path, code)) {
        return path;
    }
    const std::string folder = ResolveDiscFolder(path, DiscFiles::Vob, error);
    if (folder.empty()) {
        return {};
    }
    const std::string vob = FirstVobInFolder(TheRealFileSystem(), folder, fullDvd);
    if (vob.empty()) {
        error = path + ": no title set VOB (VTS_xx_1.VOB) in this folder";
    }
    return vob;
}

}  // namespace dorvex
