// The read-only check of a whole VIDEO_TS folder: the video manager, then every title set that
// has an IFO, each its own group of findings. Nothing is written; every VOB is read once from
// start to end (and its navpacks once more), with memory in proportion to its pack count.
#pragma once

#include <string>

#include "engine/check/VerifyReport.h"
#include "support/FileSystem.h"

namespace dorvex {

CVerifyReport VerifyFolder(const std::string& folder, FileSystem& files = TheRealFileSystem());

}  // namespace dorvex
