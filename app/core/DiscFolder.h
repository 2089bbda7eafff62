// Which disc a PATH stands for, the same in every front end: dorvex-cli's PATH, a folder dropped
// on the dialog, a disc copied out of an image. A disc is a VIDEO_TS folder, or the folder around
// one; file and folder names count in any case.
#pragma once

#include <string>

#include "support/FileSystem.h"

namespace dorvex {

// What makes a folder a disc's VIDEO_TS folder for the one asking.
enum class DiscFiles {
    Vob,  // a VOB a run can start from (FirstVobInFolder of a full-DVD run): clean, the dialog
    Ifo,  // VIDEO_TS.IFO or a VTS_nn_0.IFO, what check reads
};

// The disc folder PATH stands for, ending in a separator: PATH, or for a file its folder, when
// it holds `files`; else the VIDEO_TS folder inside it that does. Empty, with the reason in
// error, when PATH does not exist or neither holds them.
std::string ResolveDiscFolder(const std::string& path, DiscFiles files, std::string& error);

// The VOB that starts a run on a DVD folder (ending in a separator): the VTS_xx_1.VOB with the
// lowest xx; for a full-DVD run, which walks the whole folder anyway, a menu VOB (VTS_xx_0.VOB)
// and then VIDEO_TS.VOB will do when there is no title VOB. Empty when there is none. Only
// regular files count.
std::string FirstVobInFolder(FileSystem& files, const std::string& folder, bool fullDvd);

// PATH as the VOB to open: a file as it is; a folder (ResolveDiscFolder) as FirstVobInFolder.
// Empty, with the reason in error, when there is nothing to open.
std::string ResolveVob(const std::string& path, bool fullDvd, std::string& error);

}  // namespace dorvex
