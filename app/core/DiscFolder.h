// Which VOB a folder stands for, the same in every front end: dorvex-cli's PATH and a folder
// dropped on the dialog.
#pragma once

#include <string>

#include "support/FileSystem.h"

namespace dorvex {

// The VOB that starts a run on a DVD folder (ending in a separator): the VTS_xx_1.VOB with the
// lowest xx; for a full-DVD run, which walks the whole folder anyway, a menu VOB (VTS_xx_0.VOB)
// and then VIDEO_TS.VOB will do when there is no title VOB. Empty when there is none. Names in
// any case; only regular files count.
std::string FirstVobInFolder(FileSystem& files, const std::string& folder, bool fullDvd);

// PATH as the VOB to open: a file as it is. A folder (a VIDEO_TS folder, or a disc folder with
// one inside, in any case) as FirstVobInFolder. Empty, with the reason in error, when there is
// nothing to open.
std::string ResolveVob(const std::string& path, bool fullDvd, std::string& error);

}  // namespace dorvex
