// Writing the result of an image's clean: the free space it needs, the extracted files, the new
// image made by genisoimage, and the rename that gives the output its final name only once it
// is whole. The work folder that holds them is WorkFolder.h's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/image/ImageFileSystem.h"

namespace dorvex {

// Asked again and again during long steps: true stops them (Ctrl-C).
using StopRequested = std::function<bool()>;

// "12.3 MB" (MB of 1048576 bytes, as the progress line counts them).
std::string MegabytesText(int64_t bytes);

// Bytes an unprivileged process may still write on the file system holding folder; -1 when it
// cannot be told.
int64_t FreeBytes(const std::string& folder);

// What genisoimage -dvd-video -udf makes of files totalling fileBytes: the files, each from a
// sector of its own, and the file systems' own structures, padding and anchors, with room to
// spare (measured: 427 sectors for 10 files; see docs/real-dvd.md).
int64_t ImageBytesFor(int64_t fileBytes, size_t fileCount);

// Gives `from` the name `to` only where nothing is (never replaces a file or folder someone
// made meanwhile). False with the reason.
bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error);

// How far a long step is, for the progress line; written by the step, read by the display.
struct StepProgress {
    std::atomic<int64_t> done{0};
    std::atomic<int64_t> total{0};
    std::atomic<int32_t> item{-1};  // index of the file being copied
};

// Copies the image's VIDEO_TS files into folder (which exists), each created where nothing is.
// False with the reason when a copy fails or `stop` asks to stop.
bool ExtractVideoTs(const ImageFileSystem& image, const std::string& folder,
                    const StopRequested& stop, StepProgress& progress, std::string& error);

// The program that writes images, from PATH; empty when it is not installed.
std::string FindImageWriter();

// genisoimage's arguments for a DVD-Video image of discFolder (VIDEO_TS and AUDIO_TS) at
// output: UDF with an ISO 9660 bridge, the DVD-Video file order and padding.
std::vector<std::string> ImageWriterArguments(const std::string& writer, const std::string& label,
                                              const std::string& output,
                                              const std::string& discFolder);

// Runs the writer (argv[0] its path), its output into logPath; progress follows the image's
// size against progress.total. A failed run gives its exit status and last line in `error`;
// `stop` ends it (the writer is killed). The writer dies with this process, even a killed one;
// call it from the thread that lives until the writer ends (the kernel ties the writer to the
// thread that started it).
bool RunImageWriter(const std::vector<std::string>& argv, const std::string& output,
                    const std::string& logPath, const StopRequested& stop, StepProgress& progress,
                    std::string& error);

}  // namespace dorvex
