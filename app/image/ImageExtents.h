// Whether each DVD file of an image can be read on its own, before anything is read from it.
// libdvdread finds a file through UDF as one run of sectors from its start; a run that covers
// another file's sectors, ends past the image, or a file whose UDF entry cannot be read would
// make a clean copy other files' bytes into it, or leave it out of the result without a word.
// The ISO 9660 directory that every DVD-Video disc carries beside UDF (the UDF bridge) lists
// the names, so a file UDF cannot find is told from one that is not there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dorvex {

struct ImageExtent {
    std::string name;  // VTS_01_1.VOB
    uint32_t firstSector = 0;
    int64_t size = 0;
};

// The files of the ISO 9660 folder VIDEO_TS of the image open at fd, by their names without the
// ";1" version; nullopt when the image has no ISO 9660 volume or no such folder (a UDF-only
// image).
std::optional<std::vector<ImageExtent>> ListIsoVideoTs(int fd);

// Why the image's files cannot each be read from their own sectors, naming the file and what to
// do: extents (from UDF) that share sectors or end past the image's imageBytes, and a DVD file
// the ISO 9660 listing names with bytes while UDF gave no extent for it. Empty when all is well.
std::string ExtentProblem(const std::vector<ImageExtent>& udf,
                          const std::optional<std::vector<ImageExtent>>& listed,
                          int64_t imageBytes);

}  // namespace dorvex
