#include "app/dorvexcli/ImageArgument.h"

#include <unistd.h>

#include <filesystem>

#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/image/ImageClean.h"
#include "support/Paths.h"

namespace dorvex::cli {

namespace fs = std::filesystem;

bool IsImageArgument(const std::string& path) {
    return LooksLikeDiscImage(path);
}

std::string ImageOutputPath(const std::string& image, const std::string& output,
                            std::string& refusal) {
    if (output.empty()) {
        refusal = image +
                  ": a disc image is never changed: name the cleaned copy with --output NEW.iso "
                  "(or --output DIR for a VIDEO_TS folder)";
        return {};
    }
    std::error_code code;
    std::string target = StripSeparator(output);
    if (fs::is_directory(output, code)) {
        target += kPathSeparator + GetFileName(StripSeparator(image));
    }
    if (fs::exists(fs::symlink_status(target, code))) {
        refusal = target +
                  " already exists: nothing was written. Remove it or name another "
                  "--output.";
        return {};
    }
    const std::string folder = StripSeparator(GetFolder(target));
    if (!folder.empty() && !fs::is_directory(folder, code)) {
        refusal = "no folder " + folder + " to write " + GetFileName(target) +
                  " in: nothing was written. Make it first, or name another --output.";
        return {};
    }
    return target;
}

int CleanImage(const std::string& image, const std::string& target, RunOptions options,
               bool quiet) {
    ImageCleanHooks hooks;
    hooks.note = PrintNote;
    hooks.error = PrintError;
    hooks.warning = PrintWarning;
    hooks.showStepProgress = [quiet](const std::function<std::string()>& text,
                                     const std::function<void()>& step) {
        ProgressLine line(text, !quiet && IsTerminal(STDERR_FILENO));
        step();
    };
    hooks.showRunProgress = [quiet](const CVtsCleaner& engine, const std::function<void()>& run) {
        ProgressLine line(engine, !quiet && IsTerminal(STDERR_FILENO));
        run();
    };
    switch (CleanDiscImage(image, target, std::move(options), hooks)) {
        case ImageCleanResult::Done:
            return kExitOk;
        case ImageCleanResult::Refused:
            return kExitUsage;
        case ImageCleanResult::Failed:
            break;
    }
    return kExitFailed;
}

}  // namespace dorvex::cli
