// The rules of a DVD-Video folder's file names, in one place. Title set nn (01 to 99) has its
// menu VOB VTS_nn_0.VOB, the title VOBs VTS_nn_1.VOB to VTS_nn_9.VOB that together form one
// stream, and VTS_nn_0.IFO with its copy VTS_nn_0.BUP; the video manager (title set 0 here) has
// VIDEO_TS.VOB, VIDEO_TS.IFO and VIDEO_TS.BUP.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvex {

class FileSystem;

inline constexpr int32_t kVideoManager = 0;
inline constexpr int32_t kLastTitleSet = 99;
// A full-DVD run visits title sets 1 to 98 only, as it always has.
inline constexpr int32_t kLastFullDvdTitleSet = 98;
inline constexpr int32_t kMenuVobPart = 0;
inline constexpr int32_t kFirstTitleVobPart = 1;
inline constexpr int32_t kLastTitleVobPart = 9;

// "VTS_01_1.VOB"; for title set 0 "VIDEO_TS.VOB" (the part is then ignored). ext without dot.
std::string DvdFileName(int32_t titleSet, int32_t part, std::string_view ext);
// "VTS_01", or "VIDEO_TS" for title set 0.
std::string TitleSetName(int32_t titleSet);

enum class DvdFileKind { Vob, Ifo, Bup };

// A DVD file name taken apart, the inverse of DvdFileName.
struct DvdNameParts {
    int32_t titleSet = kVideoManager;
    int32_t part = 0;  // the digit before .VOB; 0 for the IFO and BUP and for VIDEO_TS.*
    DvdFileKind kind = DvdFileKind::Vob;

    // The menu VOB of a title set, or VIDEO_TS.VOB (the video manager's menu).
    bool IsMenuVob() const { return kind == DvdFileKind::Vob && part == kMenuVobPart; }
};

// The last component of path as one of a DVD folder's own files, in any case: VIDEO_TS.VOB,
// .IFO, .BUP, VTS_nn_0.IFO, VTS_nn_0.BUP and VTS_nn_m.VOB (nn 01 to 99, m 0 to 9); nothing for
// any other name. The one reader of these names: callers never take them apart themselves.
std::optional<DvdNameParts> ParseDvdFileName(std::string_view path);

// True for the names ParseDvdFileName takes.
bool IsDvdFileName(std::string_view name);

// Title set number of a DVD file path (0 for VIDEO_TS.*, whatever its extension), or -1 for
// another name.
int32_t TitleSetOf(std::string_view path);

// True for VIDEO_TS.VOB, .IFO and .BUP, the video manager's files (any case, any folder; the
// extension is not looked at).
bool IsVideoManagerName(std::string_view path);

// The IFO and BUP of a title-set VOB, beside it: its name with the digit before the extension
// set to 0 (VTS_03_2.VOB gives VTS_03_0.IFO); VIDEO_TS.VOB keeps its name (VIDEO_TS.IFO). The
// extension is written as given, the rest keeps its case.
std::string IfoPathFor(std::string_view vobPath);
std::string BupPathFor(std::string_view vobPath);

// The digit before ".VOB" of a DVD file name: the character five places before the end.
// Returns '\0' when the path is too short to have one.
char GetVobDigit(const std::string& path);
void SetVobDigit(std::string& path, char digit);

// The extension of an in-place run's journal.
inline constexpr std::string_view kJournalExt = ".dorvex-journal";
bool IsJournalFileName(std::string_view name);

// A journal's name taken apart (see TitleSetFiles::Journal): whose run it records.
struct JournalNameParts {
    int32_t titleSet = kVideoManager;
    bool menu = false;  // VTS_nn_menu; the video manager's journal is its menu's
};
// The title-set number of a VOB's file title in the loose shape "%*[^_]_%d_%d" that the dialog
// accepts and the tidy step reads (a word, then two underscored numbers, anything after the
// second ignored); nothing when the title has another shape.
std::optional<int32_t> VobTitleSetNumber(std::string_view fileTitle);

// The last component of path as a journal's name, in any case; nothing for any other name.
std::optional<JournalNameParts> ParseJournalFileName(std::string_view path);

// The path of the file that exists in path's folder under path's name in any case (its own
// spelling first), or path itself when there is none. Discs from ISO 9660 mounts without Joliet
// or Rock Ridge have lower-case names (vts_01_1.vob); some tools mix cases.
std::string ResolveCase(FileSystem& files, const std::string& path);

// Steps path to the next title VOB of its stream (the digit before ".VOB" counted up to 9, each
// name in the case its file has): true at the first one, or, with skipEmpty, the first one of 1
// KiB or more. False, with path at the last name tried, when there is none; a digit that is not
// one below '9' ends the walk at once.
bool NextTitleVob(FileSystem& files, std::string& path, bool skipEmpty);

// The .BUP copy of an IFO path: the file there in any case, else the IFO's name with its
// extension's case (vts_01_0.ifo gives vts_01_0.bup).
std::string BupOfIfo(FileSystem& files, const std::string& ifoPath);

// One file of a domain's VOB stream, with the stream sector its first pack has.
struct VobPart {
    std::string path;
    int32_t number = 0;  // the digit before .VOB
    int64_t firstSector = 0;
    int64_t sectors = 0;
};

// The files of one title set (or of the video manager), named after one of its files: the VOBs
// differ from its name in the digit before ".VOB" only. Each name is the spelling of the file
// that exists, in whatever case; a file that does not exist is named as the pattern spells it.
class TitleSetFiles {
  public:
    TitleSetFiles(FileSystem& files, const std::string& path);
    // Title set titleSet of a folder (ending in a separator, or empty), by its standard names.
    static TitleSetFiles InFolder(FileSystem& files, const std::string& folder, int32_t titleSet);

    bool IsVideoManager() const { return m_VideoManager; }
    std::string Folder() const;

    // Part 0 is the menu VOB.
    std::string Vob(int32_t part) const;
    std::string Ifo() const;
    std::string Bup() const;
    std::string VideoManagerIfo() const;
    // Where an in-place run of the titles (or of the menu) keeps its journal until it is done:
    // VTS_01.dorvex-journal, VTS_01_menu.dorvex-journal, VIDEO_TS.dorvex-journal.
    std::string Journal(bool menu) const;
    std::string VideoManagerBup() const;

    // The title VOBs that exist, in number order, as one stream (a missing number is passed
    // over; a file shorter than a pack has no sectors). The video manager has none.
    std::vector<VobPart> TitleParts() const;
    // The menu VOB as a stream of one part, or nothing when it does not exist.
    std::vector<VobPart> MenuParts() const;
    std::vector<VobPart> Parts(bool menu) const { return menu ? MenuParts() : TitleParts(); }

  private:
    FileSystem& m_Files;
    std::string m_VobPath;
    bool m_VideoManager;
};

// The part holding a stream sector, or null past the end.
const VobPart* PartAt(const std::vector<VobPart>& parts, int64_t sector);

// The steps of a full-DVD run, in order: every title set's menu VOB, then its first title VOB,
// for title sets 1 to 98, then VIDEO_TS.VOB.
struct FullDvdStep {
    std::string vob;
    bool menu = false;
};
std::vector<FullDvdStep> FullDvdSteps(const std::string& folder);

}  // namespace dorvex
