// PATH as a DVD-Video disc image (.iso): check and plan read it where it is; clean copies its
// VIDEO_TS files into a work folder beside the output, cleans that copy as a whole disc, and
// writes the result as a new image or folder. The image itself is never changed.
#pragma once

#include <memory>
#include <string>

#include "app/core/RunOptions.h"
#include "app/image/ImageFileSystem.h"

namespace dorvex::cli {

// True when PATH is a disc image rather than a VOB, an IFO or a folder.
bool IsImageArgument(const std::string& path);

// The image read as a folder; null, with why in error, when it cannot be read.
std::unique_ptr<ImageFileSystem> OpenImageArgument(const std::string& path, std::string& error);

// Where the cleaned copy of `image` goes for --output `output`: an existing folder receives it
// under the image's own name, any other name is taken as it is. Empty, with what to do in
// refusal, when there is no output, or the name is taken already.
std::string ImageOutputPath(const std::string& image, const std::string& output,
                            std::string& refusal);

// One image cleaned into `target` (a new image when its name ends in .iso, a disc folder holding
// VIDEO_TS and AUDIO_TS otherwise) with the options of the command line (a whole-disc run; the
// work copy is the program's own, so it is cleaned in place). The exit status: 0 done, 1 failed
// or interrupted, 2 refused; whatever happens, nothing is left under `target` but a whole result
// and nothing of the work folder remains.
int CleanImage(const std::string& image, const std::string& target, RunOptions options, bool quiet);

}  // namespace dorvex::cli
