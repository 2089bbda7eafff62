// PATH as a DVD-Video disc image (.iso): check and plan read it where it is (OpenDiscImage);
// clean writes a cleaned copy where --output says (app/image/ImageClean.h), its steps shown on
// the console. The image itself is never changed.
#pragma once

#include <memory>
#include <string>

#include "app/core/RunOptions.h"
#include "app/image/ImageFileSystem.h"

namespace dorvex::cli {

// True when PATH is a disc image rather than a VOB, an IFO or a folder.
bool IsImageArgument(const std::string& path);

// Where the cleaned copy of `image` goes for --output `output`: an existing folder receives it
// under the image's own name, any other name is taken as it is. Empty, with what to do in
// refusal, when there is no output, or the name is taken already.
std::string ImageOutputPath(const std::string& image, const std::string& output,
                            std::string& refusal);

// One image cleaned into `target` with the options of the command line (CleanDiscImage), its
// lines on standard error and its progress line on a terminal unless quiet. The exit status: 0
// done, 1 failed or interrupted, 2 refused.
int CleanImage(const std::string& image, const std::string& target, RunOptions options, bool quiet);

}  // namespace dorvex::cli
