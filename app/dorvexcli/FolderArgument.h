// The folder that check and plan look at: PATH may name a VIDEO_TS folder, a disc folder with
// one inside, or any file in it.
#pragma once

#include <string>

namespace dorvex::cli {

// The folder holding the DVD-Video files (with a trailing separator); empty, with the reason in
// error, when PATH does not exist or holds no IFO.
std::string ResolveDvdFolder(const std::string& path, std::string& error);

}  // namespace dorvex::cli
