#include "app/image/ImageOutput.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/Paths.h"

extern char** environ;

namespace dorvex {

namespace {

constexpr int64_t kSectorBytes = 2048;
// The image's own structures beyond its files: system area, volume descriptors, the UDF anchors
// and file entries, the ISO 9660 directories and path tables, and genisoimage's 150-sector pad.
constexpr int64_t kImageOverheadBytes = 2 * 1024 * 1024;
// A copy step: small enough for Ctrl-C and the progress line to follow, large enough to stream.
constexpr int64_t kCopyChunk = 8 * 1024 * 1024;
constexpr auto kPollInterval = std::chrono::milliseconds(50);

std::string SystemError(const std::string& what) {
    return what + ": " + strerror(errno);
}

// The last line the writer printed, for the user to see why it failed.
std::string LastLine(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return {};
    }
    std::string last;
    char line[1024];
    while (std::fgets(line, sizeof(line), file) != nullptr) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        if (!text.empty()) {
            last = text;
        }
    }
    std::fclose(file);
    return last;
}

// size bytes from `from` at offset to `to` at toOffset.
bool CopyRange(int from, int64_t offset, int to, int64_t toOffset, int64_t size,
               std::vector<uint8_t>& buffer) {
    int64_t done = 0;
    while (done < size) {
        loff_t in = offset + done;
        loff_t out = toOffset + done;
        const ssize_t n =
            ::copy_file_range(from, &in, to, &out, static_cast<size_t>(size - done), 0);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 ||
            (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)) {
            if (n == 0) {
                errno = EIO;  // the image ended before the file did
            }
            return false;
        }
        // No copy inside the kernel between these two: through memory.
        buffer.resize(static_cast<size_t>(kCopyChunk));
        while (done < size) {
            const size_t want = static_cast<size_t>(std::min<int64_t>(size - done, kCopyChunk));
            const ssize_t got = ::pread(from, buffer.data(), want, offset + done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                errno = got == 0 ? EIO : errno;
                return false;
            }
            for (ssize_t put = 0; put < got;) {
                const ssize_t n2 = ::pwrite(to, buffer.data() + put, static_cast<size_t>(got - put),
                                            toOffset + done + put);
                if (n2 < 0 && errno == EINTR) {
                    continue;
                }
                if (n2 <= 0) {
                    errno = n2 == 0 ? ENOSPC : errno;
                    return false;
                }
                put += n2;
            }
            done += got;
        }
    }
    return true;
}

// Starts the writer with its output in logPath; the writer's process ID, or -1 with why.
// The writer dies with this process, even one killed by SIGKILL: a killed clean must not leave
// it filling the disk. Between fork and exec only async-signal-safe calls.
pid_t StartWriter(const std::vector<std::string>& argv, const std::string& logPath,
                  std::string& error) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const int log =
        ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int failure[2] = {-1, -1};  // the child's errno when it cannot start the writer
    if (log < 0 || input < 0 || ::pipe2(failure, O_CLOEXEC) != 0) {
        error = SystemError("cannot start " + argv.front());
        for (const int fd : {log, input}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The parent may have died before the request took hold: then nobody waits for us.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && ::getppid() == parent &&
            ::dup2(input, STDIN_FILENO) >= 0 && ::dup2(log, STDOUT_FILENO) >= 0 &&
            ::dup2(log, STDERR_FILENO) >= 0) {
            ::execve(args[0], args.data(), environ);
        }
        const int reason = errno;
        [[maybe_unused]] const ssize_t told = ::write(failure[1], &reason, sizeof(reason));
        ::_exit(127);
    }
    const int forkError = errno;
    for (const int fd : {log, input, failure[1]}) {
        ::close(fd);
    }
    int reason = pid < 0 ? forkError : 0;
    const bool childFailed =
        pid > 0 && ::read(failure[0], &reason, sizeof(reason)) == sizeof(reason);
    ::close(failure[0]);
    if (pid < 0 || childFailed) {
        if (childFailed) {
            ::waitpid(pid, nullptr, 0);
        }
        error = "cannot start " + argv.front() + ": " + strerror(reason);
        return -1;
    }
    return pid;
}

}  // namespace

std::string MegabytesText(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

int64_t FreeBytes(const std::string& folder) {
    struct statvfs st;
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &st) != 0) {
        return -1;
    }
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

int64_t ImageBytesFor(int64_t fileBytes, size_t fileCount) {
    return fileBytes + static_cast<int64_t>(fileCount) * kSectorBytes + kImageOverheadBytes;
}

bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        error = SystemError("cannot name the result " + to);
        return false;
    }
    return true;
}

bool ExtractVideoTs(const ImageFileSystem& image, const std::string& folder,
                    const StopRequested& stop, StepProgress& progress, std::string& error) {
    const int from = ::open(image.ImagePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) {
        error = SystemError(image.ImagePath());
        return false;
    }
    progress.total = image.TotalBytes();
    progress.done = 0;
    std::vector<uint8_t> buffer;
    bool ok = true;
    const auto& entries = image.Entries();
    for (size_t i = 0; ok && i < entries.size(); ++i) {
        const ImageFileSystem::Entry& entry = entries[i];
        progress.item = static_cast<int32_t>(i);
        const std::string target = folder + entry.name;
        const int to =
            ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (to < 0) {
            error = SystemError("cannot create " + target);
            ok = false;
            break;
        }
        for (int64_t offset = 0; offset < entry.size; offset += kCopyChunk) {
            if (stop()) {
                error = "stopped";
                ok = false;
                break;
            }
            const int64_t size = std::min<int64_t>(kCopyChunk, entry.size - offset);
            if (!CopyRange(from, entry.firstSector * kSectorBytes + offset, to, offset, size,
                           buffer)) {
                error = SystemError("cannot copy " + entry.name + " out of the image");
                ok = false;
                break;
            }
            progress.done += size;
        }
        ::close(to);
    }
    ::close(from);
    return ok;
}

std::string FindImageWriter() {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/genisoimage";
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::vector<std::string> ImageWriterArguments(const std::string& writer, const std::string& label,
                                              const std::string& output,
                                              const std::string& discFolder) {
    std::vector<std::string> args = {writer, "-dvd-video", "-udf", "-quiet"};
    if (!label.empty()) {
        args.insert(args.end(), {"-V", label});
    }
    args.insert(args.end(), {"-o", output, StripSeparator(discFolder)});
    return args;
}

bool RunImageWriter(const std::vector<std::string>& argv, const std::string& output,
                    const std::string& logPath, const StopRequested& stop, StepProgress& progress,
                    std::string& error) {
    const std::string name = GetFileName(argv.front());
    const pid_t pid = StartWriter(argv, logPath, error);
    if (pid < 0) {
        return false;
    }
    int status = 0;
    bool stopped = false;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) {
            break;
        }
        if (!stopped && stop()) {
            ::kill(pid, SIGTERM);
            stopped = true;
        }
        struct stat st;
        if (::stat(output.c_str(), &st) == 0) {
            progress.done = std::min<int64_t>(st.st_size, progress.total.load());
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    if (stopped) {
        error = "stopped";
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        progress.done = progress.total.load();
        return true;
    }
    const std::string last = LastLine(logPath);
    error = WIFEXITED(status)
                ? name + " failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                : name + " was killed by signal " + std::to_string(WTERMSIG(status));
    if (!last.empty()) {
        error += ": " + last;
    }
    return false;
}

}  // namespace dorvex
