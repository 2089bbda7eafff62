#include "app/dorvexcli/FolderArgument.h"

#include <filesystem>
#include <regex>

#include "support/Paths.h"

namespace dorvex::cli {

namespace {

namespace fs = std::filesystem;

bool HoldsIfo(const fs::path& folder) {
    static const std::regex kIfo("(VIDEO_TS|VTS_\\d\\d_0)\\.IFO");
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (std::regex_match(entry.path().filename().string(), kIfo)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string ResolveDvdFolder(const std::string& path, std::string& error) {
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
    if (!HoldsIfo(folder)) {
        std::error_code ignored;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored)) {
            if (entry.is_directory(ignored) &&
                EqualsIgnoreCase(entry.path().filename().string(), "VIDEO_TS") &&
                HoldsIfo(entry.path())) {
                folder = entry.path();
                break;
            }
        }
    }
    if (!HoldsIfo(folder)) {
        error = path + ": no VIDEO_TS.IFO or VTS_xx_0.IFO here";
        return {};
    }
    std::string text = folder.string();
    if (!IsPathSeparator(text.back())) {
        text += kPathSeparator;
    }
    return text;
}

}  // namespace dorvex::cli
