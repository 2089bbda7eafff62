// Findings of a read-only check of a VIDEO_TS folder, grouped per title set. Each carries a kind
// (a stable identifier that scripts may rely on), the file and, for stream findings, the sector.
// A damaged disc can hold a finding in every navpack: per stream and kind only the first few are
// kept in full, the others are only counted, so that memory stays small on any size of disc.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/map/DiscMap.h"

namespace dorvex {

// The kinds of finding. The strings are part of the JSON output's schema: never rename one.
namespace finding {
inline constexpr const char* kIfoDamaged = "ifo-damaged";
// A PGC no disc holds (ifo/PgcStructure.h): a run refuses its IFO.
inline constexpr const char* kImpossiblePgc = "impossible-pgc";
inline constexpr const char* kBupDiffers = "bup-differs";
inline constexpr const char* kVobNumbering = "vob-numbering";
inline constexpr const char* kSizeField = "size-field";
inline constexpr const char* kTitleStartSector = "title-start-sector";
inline constexpr const char* kBlankPack = "blank-pack";
inline constexpr const char* kNotAPack = "not-a-pack";
inline constexpr const char* kNavpackLba = "navpack-lba";
inline constexpr const char* kVobuEnd = "vobu-end";
inline constexpr const char* kSearchPointer = "search-pointer";
inline constexpr const char* kReferenceEnd = "reference-end";
inline constexpr const char* kSyncOffset = "sync-offset";
inline constexpr const char* kCellNotNavpack = "cell-not-navpack";
inline constexpr const char* kCellIds = "cell-ids";
inline constexpr const char* kCellLastSector = "cell-last-sector";
inline constexpr const char* kCellAddressMissing = "cell-address-missing";
inline constexpr const char* kCellAddressRange = "cell-address-range";
inline constexpr const char* kCellAddressVobCount = "cell-address-vob-count";
inline constexpr const char* kVobuAdmap = "vobu-admap";
inline constexpr const char* kTimeMapEntry = "time-map-entry";
inline constexpr const char* kUnreferencedCell = "unreferenced-cell";
// Interleaved blocks: the pieces (ILVUs) the IFO gives a played cell against the stream's, and
// a navpack's ILVU and angle fields against what the layout gives them.
inline constexpr const char* kCellPieces = "cell-pieces";
inline constexpr const char* kIlvuField = "ilvu-field";
inline constexpr const char* kReadError = "read-error";
inline constexpr const char* kVobMissing = "vob-missing";
inline constexpr const char* kLibdvdreadRefuses = "libdvdread-refuses";
inline constexpr const char* kLibdvdreadWarning = "libdvdread-warning";
// An interrupted in-place run's journal: the set's files are half moved, nothing else is said.
inline constexpr const char* kHalfCleaned = "half-cleaned";
// Notes: what a reader tolerates and an authoring tool writes on purpose, not counted.
inline constexpr const char* kPaddedVideoManager = "padded-video-manager";
}  // namespace finding

struct VerifyFinding {
    std::string kind;
    std::string file;     // file name inside the folder
    std::string stream;   // "VTS_01 titles", "VTS_01 menu", "VIDEO_TS menu"; empty for IFO findings
    int64_t sector = -1;  // sector in the stream, as the IFO and navpacks count it; -1 none
    int64_t fileSector = -1;  // the same sector counted from the start of `file`; -1 none
    std::string message;
};

// The findings of one title set (or of the video manager, named "VIDEO_TS").
struct VerifyGroup {
    std::string name;
    std::vector<VerifyFinding> findings;    // the ones kept in full, in the order found
    std::map<std::string, int64_t> counts;  // every finding, by kind
    // Findings counted but not kept, by stream (or file) and kind.
    std::map<std::pair<std::string, std::string>, int64_t> omitted;
    // Findings kept in full, by stream (or file) and kind.
    std::map<std::pair<std::string, std::string>, int64_t> kept;
    // Said for information; not findings, not counted.
    std::vector<VerifyFinding> notes;
    // The map of each domain whose stream was read, and, until then, the sector of every finding
    // in a stream (kept in full or not) but blank packs and sectors without a pack header, which
    // the map draws as runs.
    std::vector<map::DomainMap> maps;
    std::map<std::string, std::vector<int64_t>> markedSectors;

    int64_t Total() const;
};

class CVerifyReport {
  public:
    // Findings kept in full per stream (or file) and kind.
    static constexpr int64_t kKeptPerKind = 20;

    // Starts the group that the following findings belong to.
    void BeginGroup(const std::string& name);
    void Add(VerifyFinding finding);
    void AddNote(VerifyFinding note);
    // The current group's map of a domain, its marks taken from the findings in its stream.
    void AddMap(map::DomainMap domain);

    const std::vector<VerifyGroup>& Groups() const { return m_Groups; }
    int64_t Total() const;
    // Every finding of a kind, over all groups.
    int64_t Count(const std::string& kind) const;

  private:
    std::vector<VerifyGroup> m_Groups;
};

}  // namespace dorvex
