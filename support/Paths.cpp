#include "support/Paths.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

namespace dorvex {

PathParts SplitPath(std::string_view path) {
    PathParts parts;
    if (path.size() >= 2 && path[1] == ':') {
        parts.drive = std::string(path.substr(0, 2));
        path.remove_prefix(2);
    }
    size_t lastSep = std::string_view::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsPathSeparator(path[i])) {
            lastSep = i;
        }
    }
    std::string_view name = path;
    if (lastSep != std::string_view::npos) {
        parts.folder = std::string(path.substr(0, lastSep + 1));
        name = path.substr(lastSep + 1);
    }
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        parts.base = std::string(name);
    } else {
        parts.base = std::string(name.substr(0, dot));
        parts.ext = std::string(name.substr(dot));
    }
    return parts;
}

std::string Concat(std::string_view first, std::string_view second) {
    std::string out;
    out.reserve(first.size() + second.size());
    out.append(first).append(second);
    return out;
}

std::string Concat3(std::string_view first, std::string_view second, std::string_view third) {
    std::string out;
    out.reserve(first.size() + second.size() + third.size());
    out.append(first).append(second).append(third);
    return out;
}

std::string GetFileExt(std::string_view path) {
    return SplitPath(path).ext;
}

std::string GetBaseName(std::string_view path) {
    return SplitPath(path).base;
}

std::string GetFileName(std::string_view path) {
    PathParts parts = SplitPath(path);
    return parts.base + parts.ext;
}

std::string GetFolder(std::string_view path) {
    PathParts parts = SplitPath(path);
    return parts.drive + parts.folder;
}

std::string ReplaceExt(std::string_view path, std::string_view newExt) {
    PathParts parts = SplitPath(path);
    std::string out = parts.drive + parts.folder + parts.base;
    out.append(newExt);
    return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    bool nameStartsWithSep = !name.empty() && IsPathSeparator(name.front());
    bool folderEndsWithSep = !folder.empty() && IsPathSeparator(folder.back());
    if (!nameStartsWithSep && !folderEndsWithSep) {
        out.push_back(kPathSeparator);
    }
    out.append(name);
    return out;
}

std::string StripSeparator(std::string folder) {
    while (folder.size() > 1 && IsPathSeparator(folder.back())) {
        folder.pop_back();
    }
    return folder;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool FileExists(std::string_view path) {
    if (path.empty()) {
        return false;
    }
    struct stat st;
    return ::stat(std::string(path).c_str(), &st) == 0;
}

int64_t FileSizeBytes(std::string_view path) {
    if (path.empty()) {
        return 0;
    }
    struct stat st;
    if (::stat(std::string(path).c_str(), &st) != 0) {
        return 0;
    }
    return static_cast<int64_t>(st.st_size);
}

int32_t FileSizeKB(std::string_view path) {
    return static_cast<int32_t>(FileSizeBytes(path) / 1024);
}

bool IsEmptyOrMissing(std::string_view path) {
    return FileSizeBytes(path) == 0;
}

void DeleteFolderFiles(std::string_view folder, std::string_view pattern) {
    std::string dirPath(folder);
    if (dirPath.empty()) {
        return;
    }
    std::string glob = pattern.empty() ? std::string("*") : std::string(pattern);
    DIR* dir = ::opendir(dirPath.c_str());
    if (dir == nullptr) {
        return;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (::fnmatch(glob.c_str(), entry->d_name, 0) != 0) {
            continue;
        }
        // unlink() refuses directories, so the walk never descends into subfolders.
        ::unlink(JoinPath(dirPath, name).c_str());
    }
    ::closedir(dir);
}

}  // namespace dorvex
