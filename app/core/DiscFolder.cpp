#include "app/core/DiscFolder.h"

#include <filesystem>
#include <regex>

#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

namespace fs = std::filesystem;

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

std::string WithSeparator(std::string folder) {
    if (folder.empty() || !IsPathSeparator(folder.back())) {
        folder += kPathSeparator;
    }
    return folder;
}

}  // namespace

std::string FirstVobInFolder(FileSystem& files, const std::string& folder, bool fullDvd) {
    static const std::regex kTitleSetVob("VTS_(\\d\\d)_([01])\\.VOB", std::regex::icase);
    std::string firstTitle;  // VTS_xx_1.VOB
    std::string firstMenu;   // VTS_xx_0.VOB
    std::string videoManager;
    int titleNumber = kLastTitleSet + 1;
    int menuNumber = kLastTitleSet + 1;
    for (const std::string& name : files.ListFiles(folder)) {
        std::smatch match;
        if (std::regex_match(name, match, kTitleSetVob)) {
            const int number = std::stoi(match[1].str());
            const bool title = match[2].str() == "1";
            int& lowest = title ? titleNumber : menuNumber;
            if (number < lowest) {
                lowest = number;
                (title ? firstTitle : firstMenu) = folder + name;
            }
        } else if (EqualsIgnoreCase(name, "VIDEO_TS.VOB")) {
            videoManager = folder + name;
        }
    }
    if (!firstTitle.empty() || !fullDvd) {
        return firstTitle;
    }
    return !firstMenu.empty() ? firstMenu : videoManager;
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
    FileSystem& files = TheRealFileSystem();
    std::string folder = WithSeparator(path);
    std::string vob = FirstVobInFolder(files, folder, fullDvd);
    if (vob.empty() && FirstVobInFolder(files, folder, true).empty()) {
        // Not a VIDEO_TS folder itself: the disc folder around one.
        const fs::path inner = VideoTsInside(path);
        if (!inner.empty()) {
            vob = FirstVobInFolder(files, WithSeparator(inner.string()), fullDvd);
        }
    }
    if (vob.empty()) {
        error = path + ": no title set VOB (VTS_xx_1.VOB) in this folder";
    }
    return vob;
}

}  // namespace dorvex
