#include "app/image/ImageClean.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "app/core/AbortSignals.h"
#include "app/core/DiscFolder.h"
#include "app/core/RunSession.h"
#include "app/image/ImageFileSystem.h"
#include "app/image/ImageOutput.h"
#include "app/image/WorkFolder.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

std::string Percent(const StepProgress& progress) {
    const int64_t total = progress.total.load();
    const int64_t done = progress.done.load();
    return std::to_string(total > 0 ? done * 100 / total : 0) + "%";
}

int64_t FolderBytes(FileSystem& files, const std::string& folder, size_t& count) {
    int64_t bytes = 0;
    count = 0;
    for (const std::string& name : files.ListFiles(folder)) {
        bytes += files.SizeBytes(folder + name);
        ++count;
    }
    return bytes;
}

// Everything of the new image on the disk before it takes its final name: a crash right after
// the rename must not leave a name pointing at a half-written file.
bool SyncFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (!ok) {
        error = "cannot write " + path + " to the disk: " + strerror(errno);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

// A front end that shows no lines leaves those hooks empty.
ImageCleanHooks WithQuietLines(ImageCleanHooks hooks) {
    for (auto* line : {&hooks.note, &hooks.error, &hooks.warning}) {
        if (!*line) {
            *line = [](const std::string&) {};
        }
    }
    return hooks;
}

// One image's clean from the copy out of the image to the result under its final name.
class ImageClean {
  public:
    ImageClean(const std::string& image, const std::string& target, const ImageCleanHooks& hooks)
        : m_Image(image),
          m_Target(target),
          m_Hooks(WithQuietLines(hooks)),
          m_AsImage(EqualsIgnoreCase(GetFileExt(target), ".iso")) {}

    ImageCleanResult Run(RunOptions options) {
        std::string error;
        m_Disc = OpenDiscImage(m_Image, error);
        if (m_Disc == nullptr) {
            m_Hooks.error(error);
            return ImageCleanResult::Refused;
        }
        if (m_AsImage && (m_Writer = FindImageWriter()).empty()) {
            m_Hooks.error(
                "genisoimage is not installed (Debian: apt-get install genisoimage): nothing was "
                "written. Install it, or write a VIDEO_TS folder with --output DIR.");
            return ImageCleanResult::Refused;
        }
        // A killed clean of this image may have left its work folder here, and the room it takes.
        SweepLeftovers();
        if (!EnoughSpace()) {
            return ImageCleanResult::Refused;
        }
        // From here on Ctrl-C and SIGTERM stop the clean, which then removes what it made.
        ScopedAbortOnSignals abortOnSignals(m_Engine);
        m_SignalsBefore = AbortSignalsCaught();
        m_Hooks.note("Cleaning the whole disc in " + m_Image + " into " + m_Target +
                     " (the image itself is never changed)");
        if (!m_Work.Create(m_Target, m_Image, error)) {
            m_Hooks.error(error +
                          ": nothing was written. Name an --output in a folder you can write.");
            return ImageCleanResult::Refused;
        }
        if (!Extract()) {
            return m_Status;
        }
        if (!Clean(options)) {
            return m_Status;
        }
        if (!(m_AsImage ? WriteImage() : MoveFolder())) {
            return m_Status;
        }
        m_Work.Remove();
        m_Hooks.note("Wrote " + m_Target + (m_AsImage ? "" : "/VIDEO_TS") + "; " + m_Image +
                     " is unchanged");
        return ImageCleanResult::Done;
    }

  private:
    bool StopRequested() const { return AbortSignalsCaught() != m_SignalsBefore; }

    void ShowStepProgress(const std::function<std::string()>& text,
                          const std::function<void()>& step) const {
        if (m_Hooks.showStepProgress) {
            m_Hooks.showStepProgress(text, step);
        } else {
            step();
        }
    }

    // Ends the clean without a result: the work folder goes, and the user learns that neither
    // the image nor the output name was touched.
    bool Unfinished(const std::string& why, ImageCleanResult status) {
        m_Work.Remove();
        m_Hooks.error(why + "; " + m_Image + " is unchanged and " + m_Target + " was not written.");
        m_Status = status;
        return false;
    }

    void SweepLeftovers() {
        for (const SweepLine& line : SweepLeftoverWorkFolders(m_Target, m_Image)) {
            (line.removed ? m_Hooks.note : m_Hooks.warning)(line.text);
        }
    }

    bool EnoughSpace() {
        const int64_t files = m_Disc->TotalBytes();
        const int64_t needed =
            files + (m_AsImage ? ImageBytesFor(files, m_Disc->Entries().size()) : 0);
        std::string folder = StripSeparator(GetFolder(m_Target));
        if (folder.empty()) {
            folder = ".";
        }
        const int64_t free = FreeBytes(folder);
        if (free < 0 || free >= needed) {
            return true;
        }
        m_Hooks.error(
            "not enough free space in " + folder + ": cleaning " + m_Image + " into " + m_Target +
            " needs " + MegabytesText(needed) +
            (m_AsImage ? " (the VIDEO_TS files copied out of the image, and the new image)"
                       : " (the VIDEO_TS files copied out of the image)") +
            ", and " + MegabytesText(free) +
            " are free. Nothing was written; free some space there or name an --output on "
            "another file system.");
        return false;
    }

    bool Extract() {
        m_Hooks.note("Copying " + std::to_string(m_Disc->Entries().size()) + " files (" +
                     MegabytesText(m_Disc->TotalBytes()) + ") out of " + m_Image + " into " +
                     StripSeparator(m_Work.VideoTs()));
        StepProgress progress;
        std::string error;
        bool copied = false;
        ShowStepProgress(
            [this, &progress] {
                const int32_t item = progress.item.load();
                return "Copying out of the image: " + Percent(progress) +
                       (item >= 0 ? " -- " + m_Disc->Entries()[item].name : "");
            },
            [&] {
                copied = ExtractVideoTs(
                    *m_Disc, m_Work.VideoTs(), [this] { return StopRequested(); }, progress, error);
            });
        if (!copied) {
            return Unfinished(StopRequested() ? "Interrupted" : error, ImageCleanResult::Failed);
        }
        return true;
    }

    bool Clean(RunOptions options) {
        // The copy is the program's own and the image stays as it was: no backup is needed.
        options.m_InPlace = 1;
        options.m_FullDvd = true;
        options.m_WaitForFile = 0;
        options.m_EmptyBackup = false;
        options.m_BackupAbove = 0;
        RunHooks hooks;
        if (m_Hooks.showRunProgress) {
            hooks.showProgressWhile = [this](const std::function<void()>& run) {
                m_Hooks.showRunProgress(m_Engine, run);
            };
        }
        // A Ctrl-C since the copy began stops the run before it starts, or as it starts.
        hooks.stopRequested = [this] { return StopRequested(); };
        RunSession session(m_Engine, options, std::move(hooks));
        const std::string vob = FirstVobInFolder(TheRealFileSystem(), m_Work.VideoTs(), true);
        if (vob.empty()) {
            return Unfinished("The image holds no VOB to clean", ImageCleanResult::Refused);
        }
        switch (const RunStart start = session.Start(vob); start.status) {
            case StartStatus::Ready:
                break;
            case StartStatus::NotOpened:
                m_Hooks.error(start.message);
                return Unfinished("The image holds no VOB to clean", ImageCleanResult::Refused);
            case StartStatus::Refused:
                return Unfinished(start.message, ImageCleanResult::Refused);
            case StartStatus::Stopped:
                return Unfinished("Interrupted", ImageCleanResult::Failed);
        }
        const RunOutcome outcome = session.RunHere();
        CloseLogFile();
        if (outcome.Unfinished()) {
            return Unfinished(
                outcome.refused   ? "The run would not start"
                : outcome.aborted ? "Interrupted"
                                  : "The run failed",
                outcome.refused ? ImageCleanResult::Refused : ImageCleanResult::Failed);
        }
        return true;
    }

    bool WriteImage() {
        const std::string temp = m_Work.Path() + "/" + GetFileName(m_Target);
        std::string label = m_Disc->VolumeLabel();
        if (label.empty()) {
            label = GetBaseName(m_Target).substr(0, 32);
        }
        StepProgress progress;
        size_t count = 0;
        progress.total =
            ImageBytesFor(FolderBytes(TheRealFileSystem(), m_Work.VideoTs(), count), count);
        m_Hooks.note("Writing " + m_Target + " with " + m_Writer);
        std::string error;
        bool written = false;
        ShowStepProgress(
            [this, &progress] { return "Writing " + m_Target + ": " + Percent(progress); },
            [&] {
                written = RunImageWriter(
                    ImageWriterArguments(m_Writer, label, temp, m_Work.Disc()), temp,
                    m_Work.WriterLog(), [this] { return StopRequested(); }, progress, error);
            });
        if (!written) {
            return Unfinished(StopRequested() ? "Interrupted" : error, ImageCleanResult::Failed);
        }
        if (!SyncFile(temp, error) || !RenameNoReplace(temp, m_Target, error)) {
            return Unfinished(error, ImageCleanResult::Failed);
        }
        return true;
    }

    bool MoveFolder() {
        std::string error;
        const std::string disc = StripSeparator(m_Work.Disc());
        if (!TheRealFileSystem().FlushFolder(disc, error) ||
            !RenameNoReplace(disc, m_Target, error)) {
            return Unfinished(error, ImageCleanResult::Failed);
        }
        return true;
    }

    const std::string m_Image;
    const std::string m_Target;
    const ImageCleanHooks m_Hooks;
    const bool m_AsImage;
    std::unique_ptr<ImageFileSystem> m_Disc;
    std::string m_Writer;
    WorkFolder m_Work;
    CVtsCleaner m_Engine;
    uint32_t m_SignalsBefore = 0;
    ImageCleanResult m_Status = ImageCleanResult::Done;
};

}  // namespace

ImageCleanResult CleanDiscImage(const std::string& image, const std::string& target,
                                RunOptions options, const ImageCleanHooks& hooks) {
    ImageClean clean(image, target, hooks);
    return clean.Run(std::move(options));
}

}  // namespace dorvex
