#include "app/dorvexcli/ReportFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/map/MapSvg.h"
#include "support/Paths.h"

namespace dorvex::cli {

namespace {

std::string InFolder(const std::string& folder, const std::string& name) {
    return folder.empty() || IsPathSeparator(folder.back()) ? folder + name : folder + "/" + name;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string RefuseReportPath(const std::string& path, const char* option) {
    if (Exists(path)) {
        return path + " exists already; " + option +
               " writes a new file only: remove it or name another file";
    }
    return {};
}

std::string RefuseSvgFolder(const std::string& folder, const std::vector<std::string>& names) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return folder + " is not a folder; --svg writes into an existing folder: create it first";
    }
    for (const std::string& name : names) {
        const std::string path = InFolder(folder, name);
        if (Exists(path)) {
            return path +
                   " exists already; --svg writes new files only: remove it or name "
                   "another folder";
        }
    }
    return {};
}

bool WriteNewFile(const std::string& path, const std::string& text, std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            close(fd);
            unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    if (close(fd) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> SvgNames(const std::vector<NamedMap>& maps) {
    std::vector<std::string> names;
    for (const NamedMap& named : maps) {
        names.push_back(named.first);
    }
    return names;
}

bool WriteSvgFiles(const std::string& folder, const std::vector<NamedMap>& maps,
                   std::string& error) {
    for (const NamedMap& named : maps) {
        map::SvgOptions options;
        options.standalone = true;
        if (!WriteNewFile(InFolder(folder, named.first), map::TitleSetSvg(named.second, options),
                          error)) {
            return false;
        }
    }
    return true;
}

}  // namespace dorvex::cli
