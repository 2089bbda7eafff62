#include "app/image/WorkFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "support/DiskFlush.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"
#include "support/WholeFile.h"

namespace dorvex {

namespace {

constexpr std::string_view kNameMark = ".dorvex-";
constexpr size_t kUniqueChars = 6;  // what mkdtemp puts in place of XXXXXX
constexpr mode_t kWorkMode = 0700;  // mkdtemp's
constexpr const char* kMarkerHeader = "dorvex work folder 1";
constexpr off_t kMostMarkerBytes = 64 * 1024;  // a marker holds a few numbers and a path

std::string SystemError(const std::string& what) {
    return what + ": " + strerror(errno);
}

// /proc/PID/stat's 22nd field, when the process started (clock ticks since boot), and its state
// letter: with the boot ID, a process that ended is not taken for a later one of its number.
struct ProcessStat {
    uint64_t started = 0;
    char state = '?';
};

std::optional<ProcessStat> ReadProcessStat(const std::string& pid, bool& missing) {
    missing = false;
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), digit)) {
        return std::nullopt;
    }
    const int fd = ::open(("/proc/" + pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT || errno == ESRCH;
        return std::nullopt;
    }
    char buffer[1024];
    const ssize_t got = ::read(fd, buffer, sizeof(buffer));
    ::close(fd);
    const std::string text(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    // The command name, in parentheses, may hold spaces and parentheses of its own.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(close + 1));
    ProcessStat stat;
    fields >> stat.state;
    std::string skipped;
    for (int field = 4; field < 22 && fields >> skipped; ++field) {
    }
    if (!(fields >> stat.started)) {
        return std::nullopt;
    }
    return stat;
}

struct Marker {
    std::string pid;
    uint64_t started = 0;
    std::string boot;
    uint64_t device = 0;
    uint64_t inode = 0;
    std::string image;  // for people; the device and inode tell the image
};

std::string MarkerText(const Marker& m) {
    return std::string(kMarkerHeader) + "\npid=" + m.pid +
           "\nstarted=" + std::to_string(m.started) + "\nboot=" + m.boot +
           "\ndevice=" + std::to_string(m.device) + "\ninode=" + std::to_string(m.inode) +
           // Last: a path may hold line feeds, and the image line runs to the end.
           "\nimage=" + m.image;
}

std::optional<Marker> ParseMarker(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMarkerHeader) {
        return std::nullopt;
    }
    std::map<std::string, std::string> fields;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        if (key == "image") {
            fields[key] = text.substr(text.find("\nimage=") + 7);
            break;
        }
        fields[key] = equals == std::string::npos ? "" : line.substr(equals + 1);
    }
    for (const char* key : {"pid", "started", "boot", "device", "inode", "image"}) {
        if (fields[key].empty()) {
            return std::nullopt;
        }
    }
    return Marker{fields["pid"],
                  std::strtoull(fields["started"].c_str(), nullptr, 10),
                  fields["boot"],
                  std::strtoull(fields["device"].c_str(), nullptr, 10),
                  std::strtoull(fields["inode"].c_str(), nullptr, 10),
                  fields["image"]};
}

std::optional<Marker> ReadMarker(int folder) {
    const int fd = ::openat(folder, WorkFolder::kMarkerName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMostMarkerBytes) {
        text.resize(static_cast<size_t>(st.st_size));
        if (::read(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            text.clear();
        }
    }
    ::close(fd);
    return ParseMarker(text);
}

enum class Process { Running, Gone, Unknown };

Process StateOf(const Marker& marker) {
    const std::string boot = CurrentBootId();
    if (boot.empty()) {
        return Process::Unknown;
    }
    if (boot != marker.boot) {
        return Process::Gone;  // the machine was restarted since
    }
    bool missing = false;
    const std::optional<ProcessStat> stat = ReadProcessStat(marker.pid, missing);
    if (!stat) {
        return missing ? Process::Gone : Process::Unknown;
    }
    // Another process with the number, or one that ended and waits for its parent.
    return stat->started != marker.started || stat->state == 'Z' ? Process::Gone : Process::Running;
}

// Every entry of the folder `name` inside `parent` (`shown` from the work folder on) is a
// regular file or a folder that `allowed` takes, given its path from the work folder (and, for
// a folder, whose own entries its check takes); else false, with that path in `odd`. Links are
// never followed.
using Allowed = std::function<bool(int folder, const std::string& name, const std::string& path,
                                   bool isFolder, std::string& odd)>;

bool HoldsOnly(int parent, const std::string& name, const std::string& shown,
               const Allowed& allowed, std::string& odd) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        odd = (shown.empty() ? name : shown) + " (" + strerror(errno) + ")";
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    bool ok = true;
    for (dirent* entry; ok && (entry = ::readdir(dir)) != nullptr;) {
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..") {
            continue;
        }
        const std::string path = shown.empty() ? entryName : shown + "/" + entryName;
        struct stat st;
        const bool known = ::fstatat(fd, entryName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                           (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
        ok = known && allowed(fd, entryName, path, S_ISDIR(st.st_mode), odd);
        if (!ok && odd.empty()) {
            odd = path;
        }
    }
    ::closedir(dir);
    return ok;
}

// What a clean puts in its work folder: the marker, the writer's log and the new image; the
// extracted disc with the DVD files, the run's journals and the temporary files of its IFO saves.
bool HoldsOnlyWhatACleanMakes(int parent, const std::string& name, std::string& odd) {
    const std::string partial = PartialPathFor("");
    const Allowed videoTs = [&partial](int, const std::string& file, const std::string&,
                                       bool isFolder, std::string&) {
        const size_t stem = file.size() - std::min(file.size(), partial.size());
        const bool temporary = file.compare(stem, std::string::npos, partial) == 0 &&
                               IsDvdFileName(file.substr(0, stem));
        return !isFolder &&
               (IsDvdFileName(file) || ParseJournalFileName(file).has_value() || temporary);
    };
    const Allowed nothing = [](int, const std::string&, const std::string&, bool, std::string&) {
        return false;
    };
    const Allowed disc = [&](int folder, const std::string& sub, const std::string& path,
                             bool isFolder, std::string& why) {
        return isFolder && (sub == "VIDEO_TS"   ? HoldsOnly(folder, sub, path, videoTs, why)
                            : sub == "AUDIO_TS" ? HoldsOnly(folder, sub, path, nothing, why)
                                                : false);
    };
    const Allowed top = [&](int folder, const std::string& entry, const std::string& path,
                            bool isFolder, std::string& why) {
        if (isFolder) {
            return entry == "disc" && HoldsOnly(folder, entry, path, disc, why);
        }
        return entry == WorkFolder::kMarkerName || entry == WorkFolder::kWriterLogName ||
               EqualsIgnoreCase(GetFileExt(entry), ".iso");
    };
    return HoldsOnly(parent, name, "", top, odd);
}

bool LooksLikeWorkFolderName(const std::string& name) {
    const size_t mark = name.rfind(kNameMark);
    if (name.size() < 2 || name[0] != '.' || mark == std::string::npos || mark < 2 ||
        name.size() != mark + kNameMark.size() + kUniqueChars) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<ptrdiff_t>(mark + kNameMark.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

enum class Verdict { NotThisImage, Removable, Unsure };

// Whether the folder `name` of `folder` is a leftover of a killed clean of the image; why not
// sure in `why`.
Verdict Inspect(int folder, const std::string& name, const struct stat& image, std::string& why) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & 07777) != kWorkMode) {
        if (fd >= 0) {
            ::close(fd);
        }
        return Verdict::NotThisImage;  // a link, a file, or a folder the program did not make
    }
    const std::optional<Marker> marker = ReadMarker(fd);
    ::close(fd);
    if (!marker) {
        why = "it holds no marker saying which clean made it";
        return Verdict::Unsure;
    }
    if (marker->device != static_cast<uint64_t>(image.st_dev) ||
        marker->inode != static_cast<uint64_t>(image.st_ino)) {
        return Verdict::NotThisImage;
    }
    switch (StateOf(*marker)) {
        case Process::Running:
            return Verdict::NotThisImage;  // another clean of the image is at work in it
        case Process::Unknown:
            why = "whether its process " + marker->pid + " still runs cannot be told";
            return Verdict::Unsure;
        case Process::Gone:
            break;
    }
    std::string odd;
    if (!HoldsOnlyWhatACleanMakes(folder, name, odd)) {
        why = "it holds " + odd + ", which a clean does not make";
        return Verdict::Unsure;
    }
    why = "process " + marker->pid + " is gone";
    return Verdict::Removable;
}

}  // namespace

WorkFolder::~WorkFolder() {
    Remove();
}

bool WorkFolder::Create(const std::string& output, const std::string& image, std::string& error) {
    std::string folder = GetFolder(output);
    std::string pattern = folder + "." + GetFileName(output) + ".dorvex-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = SystemError("cannot make a work folder in " +
                            (folder.empty() ? std::string(".") : StripSeparator(folder)));
        return false;
    }
    m_Path = pattern;
    Marker marker;
    marker.pid = std::to_string(::getpid());
    bool missing = false;
    const std::optional<ProcessStat> self = ReadProcessStat(marker.pid, missing);
    marker.started = self ? self->started : 0;
    marker.boot = CurrentBootId();
    struct stat st;
    if (::stat(image.c_str(), &st) == 0) {
        marker.device = static_cast<uint64_t>(st.st_dev);
        marker.inode = static_cast<uint64_t>(st.st_ino);
    }
    char* real = ::realpath(image.c_str(), nullptr);
    marker.image = real != nullptr ? real : image;
    std::free(real);
    const std::string text = MarkerText(marker);
    const std::string markerPath = m_Path + "/" + kMarkerName;
    const int fd =
        ::open(markerPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool written =
        fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) {
        ::close(fd);
    }
    if (!written) {
        error = SystemError("cannot write " + markerPath);
        Remove();
        return false;
    }
    for (const std::string& inner : {Disc(), VideoTs(), Disc() + "AUDIO_TS/"}) {
        if (::mkdir(inner.c_str(), 0777) != 0) {
            error = SystemError("cannot make " + inner);
            Remove();
            return false;
        }
    }
    return true;
}

void WorkFolder::Remove() {
    if (m_Path.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_Path, ignored);
    m_Path.clear();
}

std::vector<SweepLine> SweepLeftoverWorkFolders(const std::string& output,
                                                const std::string& image) {
    std::vector<SweepLine> lines;
    struct stat imageStat;
    const std::string folder = GetFolder(output);
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr || ::stat(image.c_str(), &imageStat) != 0) {
        if (dir != nullptr) {
            ::closedir(dir);
        } else if (fd >= 0) {
            ::close(fd);
        }
        return lines;
    }
    std::vector<std::string> names;
    for (dirent* entry; (entry = ::readdir(dir)) != nullptr;) {
        if (LooksLikeWorkFolderName(entry->d_name)) {
            names.push_back(entry->d_name);
        }
    }
    for (const std::string& name : names) {
        std::string why;
        const std::string path = folder + name;
        switch (Inspect(fd, name, imageStat, why)) {
            case Verdict::NotThisImage:
                break;
            case Verdict::Unsure:
                lines.push_back({false, path +
                                            " may be the work folder of a clean that did not "
                                            "finish, but " +
                                            why +
                                            ": it was left as it is. Remove it yourself once no "
                                            "clean is writing beside " +
                                            output + "."});
                break;
            case Verdict::Removable: {
                std::error_code error;
                std::filesystem::remove_all(path, error);
                if (error) {
                    lines.push_back({false, "Couldn't remove " + path + ", left by a clean of " +
                                                image + " that did not finish: " + error.message() +
                                                ". Remove it yourself."});
                } else {
                    lines.push_back({true, "Removed " + path + ", left by a clean of " + image +
                                               " that did not finish (" + why + ")"});
                }
                break;
            }
        }
    }
    ::closedir(dir);
    return lines;
}

}  // namespace dorvex
