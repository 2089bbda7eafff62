// The front ends' Open: the dialog's check of a VOB's name before the engine opens it, with the
// messages the dialog shows when it refuses.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/VtsCleaner.h"

namespace dorvex {

// How a front end shows a message that waits for OK (a message box, or standard error).
using ShowMessageFn = std::function<void(const std::string& text)>;

inline constexpr const char* kMsgNotTitleVob =
    "Dorvex can only process title vobs (VTS_xx_[1-10].VOB)";
inline constexpr const char* kMsgOpenFailedCommandLine = "Couldn't open input file, exiting";
inline constexpr const char* kMsgOpenFailedInteractive = "Please, drag/drop a VOB file";

// True when a file title has the VTS_xx_N shape "%*[^_]_%d_%d" (a word, then two underscored
// numbers; anything after the second number ignored) or is "video_ts" in any case.
bool IsProcessableTitle(const std::string& fileTitle);

// The front end's Open: the VTS_xx_N name check, then the engine's base Open (never a subclass
// override, so a dialog engine may call this from its own Open), with the messages of the
// dialog. Returns 0 when accepted, -1 when rejected.
int32_t CheckedOpen(CVtsCleaner& engine, const std::string& path, bool commandLine,
                    const ShowMessageFn& showMessage);

}  // namespace dorvex
