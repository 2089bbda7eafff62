// A title set's map as one SVG picture: per domain a band along its sectors (cells coloured by
// who plays them, blank packs, sectors without a pack header, interleaved blocks, the findings as
// marks above it, the VOB files below it) and, for a plan, the band after the run with what it
// removes shown where it was; the sizes before and after; a legend. Every shape says what it
// stands for on hover (<title>), merged shapes how many items. The same text is inlined in the
// HTML report, written as a file of its own and drawn by the dialog.
#pragma once

#include <functional>
#include <string>

#include "engine/map/DiscMap.h"
#include "engine/map/MapScale.h"

namespace dorvex::map {

// The colours of the map, one per thing it shows.
namespace colour {
inline constexpr const char* kTitles = "#2f6fba";
inline constexpr const char* kMenus = "#2e9e5b";
inline constexpr const char* kNobody = "#e8912d";
inline constexpr const char* kBlank = "#303030";
inline constexpr const char* kNotAPack = "#a01c1c";
inline constexpr const char* kInterleaved = "#8a3fc0";
inline constexpr const char* kMark = "#d62828";
inline constexpr const char* kRemoved = "#f6cfcf";
inline constexpr const char* kStuffed = "#9a9a9a";
inline constexpr const char* kEmpty = "#e4e4e4";
}  // namespace colour

const char* ColourOf(Player player);

struct SvgOptions {
    double width = 960;
    // Prefixes every id of the picture, so that several can share an HTML page.
    std::string idPrefix = "map";
    // Where a mark links to (an HTML anchor, "#..."), or empty for no link.
    std::function<std::string(const DomainMap&, const Block&)> markHref;
    // An SVG file of its own: the XML declaration first.
    bool standalone = false;
};

std::string TitleSetSvg(const TitleSetMap& map, const SvgOptions& options = {});

// The id of the mark drawn for a finding at `sector` of domain `domainName`, empty when no mark
// holds it.
std::string MarkIdFor(const TitleSetMap& map, const SvgOptions& options,
                      const std::string& domainName, int64_t sector);

// The id of the band of domain `domainName` before the run, empty when the map has no such domain.
std::string BandIdFor(const TitleSetMap& map, const SvgOptions& options,
                      const std::string& domainName);

// "829 sectors (1.7 MB)".
std::string SizeText(int64_t sectors);

}  // namespace dorvex::map
