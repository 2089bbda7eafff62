// Where check and plan write --html FILE and --svg DIR: only files that do not exist yet, made by
// this run (never a file of the user's replaced, never written through a link), whole or not at
// all.
#pragma once

#include <string>
#include <vector>

#include "app/dorvexcli/HtmlReport.h"

namespace dorvex::cli {

// Empty when `path` is free for a new report file, else the refusal with what to do.
std::string RefuseReportPath(const std::string& path, const char* option);
// Empty when `folder` is a folder where none of `names` exists, else the refusal.
std::string RefuseSvgFolder(const std::string& folder, const std::vector<std::string>& names);

// Creates `path` (it must not exist, not even as a link) and writes `text` into it; on failure
// removes what it created and says why in `error`.
bool WriteNewFile(const std::string& path, const std::string& text, std::string& error);

// --svg DIR: every map as an SVG file of its own; stops at the first failure.
bool WriteSvgFiles(const std::string& folder, const std::vector<NamedMap>& maps,
                   std::string& error);

// The file names WriteSvgFiles would write.
std::vector<std::string> SvgNames(const std::vector<NamedMap>& maps);

}  // namespace dorvex::cli
