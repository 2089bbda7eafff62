// A disc image cleaned into a new image or folder, for any front end: its VIDEO_TS files are
// copied into a work folder beside the output, that copy is cleaned in place as a whole disc
// (RunSession), and the result is written as a new image (genisoimage) or moved out as a disc
// folder. The image itself is never changed, and whatever happens nothing is left under the
// output's name but a whole result, and nothing of the work folder remains.
#pragma once

#include <functional>
#include <string>

#include "app/core/RunOptions.h"
#include "engine/VtsCleaner.h"

namespace dorvex {

// What the front end shows; every hook is called on the calling thread, and may be left empty.
struct ImageCleanHooks {
    // A line of the program's own: what is being done, what was written.
    std::function<void(const std::string& text)> note;
    // A refusal or a failure, with what the files hold after it.
    std::function<void(const std::string& text)> error;
    // What the user must see even when lines are not wanted, though the clean goes on: a
    // killed clean's work folder that could not be told for sure to be one, left in place.
    std::function<void(const std::string& text)> warning;
    // Runs `step` (the copy out of the image, the new image) while showing a progress line
    // whose text `text` gives at each redraw.
    std::function<void(const std::function<std::string()>& text, const std::function<void()>& step)>
        showStepProgress;
    // Runs the engine's run (`run`) while showing its progress.
    std::function<void(const CVtsCleaner& engine, const std::function<void()>& run)>
        showRunProgress;
};

enum class ImageCleanResult {
    Done,
    Refused,  // nothing was written: the image, the output name or the free space would not do
    Failed,   // a step failed or was interrupted (Ctrl-C, SIGTERM); what it made is gone
};

// One image cleaned into `target`, a new image when its name ends in .iso, a disc folder holding
// VIDEO_TS and AUDIO_TS otherwise (`target` must not exist). The options are the front end's;
// the run is always a whole-disc, in-place run on the program's own copy, so no backup is made.
// Ctrl-C and SIGTERM stop it at any step.
ImageCleanResult CleanDiscImage(const std::string& image, const std::string& target,
                                RunOptions options, const ImageCleanHooks& hooks);

}  // namespace dorvex
