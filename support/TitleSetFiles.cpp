#include "support/TitleSetFiles.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "support/FileSystem.h"
#include "support/Paths.h"

namespace dorvex {

namespace {

constexpr int64_t kPackBytes = 2048;
// VTS_nn_m: where the digits and the second underscore stand.
constexpr size_t kTitleSetNameLength = 8;
constexpr std::string_view kTitleSetPrefix = "VTS_";
constexpr size_t kSetDigit = kTitleSetPrefix.size();
constexpr size_t kPartSeparator = 6;
constexpr size_t kPartDigit = 7;
constexpr std::string_view kVideoManagerBase = "VIDEO_TS";
constexpr std::string_view kMenuJournalSuffix = "_menu";
// The character of a DVD file's path that holds its VOB digit, counted from the end (".VOB").
constexpr size_t kVobDigitFromEnd = 5;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// VTS_nn (nn 01 to 99) at the start of base, in any case; its number, or -1.
int32_t TitleSetPrefixNumber(std::string_view base) {
    if (base.size() < kPartSeparator ||
        !EqualsIgnoreCase(base.substr(0, kTitleSetPrefix.size()), kTitleSetPrefix) ||
        !IsDigit(base[kSetDigit]) || !IsDigit(base[kSetDigit + 1])) {
        return -1;
    }
    const int32_t number = (base[kSetDigit] - '0') * 10 + (base[kSetDigit + 1] - '0');
    return number >= 1 ? number : -1;
}

std::optional<DvdFileKind> KindOfExt(std::string_view ext) {
    if (EqualsIgnoreCase(ext, ".VOB")) {
        return DvdFileKind::Vob;
    }
    if (EqualsIgnoreCase(ext, ".IFO")) {
        return DvdFileKind::Ifo;
    }
    if (EqualsIgnoreCase(ext, ".BUP")) {
        return DvdFileKind::Bup;
    }
    return std::nullopt;
}

// The IFO and BUP of a title-set VOB share its folder and name with the file digit set to 0;
// the video manager's VIDEO_TS.VOB keeps its name.
std::string CompanionPathFor(std::string_view vobPath, std::string_view ext) {
    std::string out = ReplaceExt(vobPath, ext);
    if (!IsVideoManagerName(vobPath)) {
        SetVobDigit(out, '0');
    }
    return out;
}

}  // namespace

std::string DvdFileName(int32_t titleSet, int32_t part, std::string_view ext) {
    if (titleSet == kVideoManager) {
        return "VIDEO_TS." + std::string(ext);
    }
    char name[32];
    std::snprintf(name, sizeof(name), "VTS_%02d_%d.", static_cast<int>(titleSet),
                  static_cast<int>(part));
    return name + std::string(ext);
}

std::string TitleSetName(int32_t titleSet) {
    const std::string name = DvdFileName(titleSet, 0, "");
    return titleSet == kVideoManager ? std::string(kVideoManagerBase)
                                     : name.substr(0, kPartSeparator);
}

std::optional<DvdNameParts> ParseDvdFileName(std::string_view path) {
    const PathParts split = SplitPath(path);
    const std::optional<DvdFileKind> kind = KindOfExt(split.ext);
    if (!kind) {
        return std::nullopt;
    }
    DvdNameParts name;
    name.kind = *kind;
    if (EqualsIgnoreCase(split.base, kVideoManagerBase)) {
        return name;
    }
    const std::string_view base = split.base;
    name.titleSet = TitleSetPrefixNumber(base);
    if (name.titleSet < 0 || base.size() != kTitleSetNameLength || base[kPartSeparator] != '_' ||
        !IsDigit(base[kPartDigit])) {
        return std::nullopt;
    }
    name.part = base[kPartDigit] - '0';
    // A title set has one IFO, VTS_nn_0.IFO, with its copy.
    if (name.kind != DvdFileKind::Vob && name.part != 0) {
        return std::nullopt;
    }
    return name;
}

bool IsDvdFileName(std::string_view name) {
    return ParseDvdFileName(name).has_value();
}

int32_t TitleSetOf(std::string_view path) {
    if (IsVideoManagerName(path)) {
        return kVideoManager;
    }
    const std::optional<DvdNameParts> name = ParseDvdFileName(path);
    return name ? name->titleSet : -1;
}

bool IsVideoManagerName(std::string_view path) {
    return EqualsIgnoreCase(GetBaseName(path), kVideoManagerBase);
}

std::string IfoPathFor(std::string_view vobPath) {
    return CompanionPathFor(vobPath, ".IFO");
}

std::string BupPathFor(std::string_view vobPath) {
    return CompanionPathFor(vobPath, ".BUP");
}

char GetVobDigit(const std::string& path) {
    return path.size() >= kVobDigitFromEnd ? path[path.size() - kVobDigitFromEnd] : '\0';
}

void SetVobDigit(std::string& path, char digit) {
    if (path.size() >= kVobDigitFromEnd) {
        path[path.size() - kVobDigitFromEnd] = digit;
    }
}

namespace {

// ResolveCase against a listing of the path's folder.
std::string ResolveCaseIn(const std::vector<std::string>& entries, const std::string& path) {
    const std::string name = GetFileName(path);
    std::string found;
    for (const std::string& entry : entries) {
        if (entry == name) {
            return path;
        }
        if (found.empty() && EqualsIgnoreCase(entry, name)) {
            found = entry;
        }
    }
    return found.empty() ? path : GetFolder(path) + found;
}

}  // namespace

std::string ResolveCase(FileSystem& files, const std::string& path) {
    return ResolveCaseIn(files.ListFiles(GetFolder(path)), path);
}

bool NextTitleVob(FileSystem& files, std::string& path, bool skipEmpty) {
    // Only a decimal digit below '9' can step; any other character ends the walk at once.
    for (char digit = GetVobDigit(path); digit >= '0' && digit < '9'; digit = GetVobDigit(path)) {
        SetVobDigit(path, static_cast<char>(digit + 1));
        // The next part may be spelled in another case than this one.
        path = ResolveCase(files, path);
        if (!skipEmpty || files.SizeKB(path) >= 1) {
            return true;
        }
    }
    return false;
}

std::string BupOfIfo(FileSystem& files, const std::string& ifoPath) {
    const std::string ext = GetFileExt(ifoPath);
    const bool lower = !ext.empty() && ext == ".ifo";
    return ResolveCase(files, ReplaceExt(ifoPath, lower ? ".bup" : ".BUP"));
}

TitleSetFiles::TitleSetFiles(FileSystem& files, const std::string& path)
    : m_Files(files),
      m_VobPath(EqualsIgnoreCase(GetFileExt(path), ".VOB") ? path : ReplaceExt(path, ".VOB")),
      m_VideoManager(IsVideoManagerName(path)) {}

TitleSetFiles TitleSetFiles::InFolder(FileSystem& files, const std::string& folder,
                                      int32_t titleSet) {
    return TitleSetFiles(files, folder + DvdFileName(titleSet, kFirstTitleVobPart, "VOB"));
}

std::string TitleSetFiles::Folder() const {
    return GetFolder(m_VobPath);
}

std::string TitleSetFiles::Vob(int32_t part) const {
    std::string path = m_VobPath;
    if (!m_VideoManager) {
        SetVobDigit(path, static_cast<char>('0' + part));
    }
    return ResolveCase(m_Files, path);
}

std::string TitleSetFiles::Ifo() const {
    return ResolveCase(m_Files, IfoPathFor(m_VobPath));
}

std::string TitleSetFiles::Bup() const {
    return ResolveCase(m_Files, BupPathFor(m_VobPath));
}

bool IsJournalFileName(std::string_view name) {
    return name.size() > kJournalExt.size() &&
           EqualsIgnoreCase(name.substr(name.size() - kJournalExt.size()), kJournalExt);
}

namespace {

// One "%d" conversion of scanf: optional white space, an optional sign, at least one digit.
// Matched by hand so that an over-long number cannot overflow as it would inside sscanf: it
// saturates instead.
bool ScanInteger(std::string_view text, size_t& pos, int64_t& value) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) {
        ++pos;
    }
    const bool negative = pos < text.size() && text[pos] == '-';
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        ++pos;
    }
    const size_t digitsStart = pos;
    value = 0;
    for (; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++pos) {
        value = std::min<int64_t>(value * 10 + (text[pos] - '0'), INT32_MAX);
    }
    value = negative ? -value : value;
    return pos > digitsStart;
}

}  // namespace

std::optional<int32_t> VobTitleSetNumber(std::string_view fileTitle) {
    // "%*[^_]": at least one character that is not an underscore.
    size_t pos = fileTitle.find('_');
    if (pos == 0 || pos == std::string_view::npos) {
        return std::nullopt;
    }
    ++pos;
    int64_t titleSet = 0;
    int64_t part = 0;
    if (!ScanInteger(fileTitle, pos, titleSet) || pos >= fileTitle.size() ||
        fileTitle[pos] != '_') {
        return std::nullopt;
    }
    ++pos;
    if (!ScanInteger(fileTitle, pos, part)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(titleSet);
}

std::optional<JournalNameParts> ParseJournalFileName(std::string_view path) {
    const std::string name = GetFileName(path);
    if (!IsJournalFileName(name)) {
        return std::nullopt;
    }
    const std::string_view base =
        std::string_view(name).substr(0, name.size() - kJournalExt.size());
    JournalNameParts journal;
    if (EqualsIgnoreCase(base, kVideoManagerBase)) {
        journal.menu = true;
        return journal;
    }
    journal.titleSet = TitleSetPrefixNumber(base);
    journal.menu = base.size() == kPartSeparator + kMenuJournalSuffix.size() &&
                   EqualsIgnoreCase(base.substr(kPartSeparator), kMenuJournalSuffix);
    if (journal.titleSet < 0 || (base.size() != kPartSeparator && !journal.menu)) {
        return std::nullopt;
    }
    return journal;
}

std::string TitleSetFiles::Journal(bool menu) const {
    const int32_t titleSet = TitleSetOf(m_VobPath);
    std::string name = TitleSetName(std::max(titleSet, 0));
    if (menu && titleSet != kVideoManager) {
        name += kMenuJournalSuffix;
    }
    return ResolveCase(m_Files, Folder() + name + std::string(kJournalExt));
}

std::string TitleSetFiles::VideoManagerIfo() const {
    return ResolveCase(m_Files, Folder() + DvdFileName(kVideoManager, 0, "IFO"));
}

std::string TitleSetFiles::VideoManagerBup() const {
    return ResolveCase(m_Files, Folder() + DvdFileName(kVideoManager, 0, "BUP"));
}

std::vector<VobPart> TitleSetFiles::TitleParts() const {
    std::vector<VobPart> parts;
    if (m_VideoManager) {
        return parts;
    }
    // One listing spells all nine names: the checks ask for the parts several times a run.
    const std::vector<std::string> entries = m_Files.ListFiles(Folder());
    int64_t first = 0;
    for (int32_t number = kFirstTitleVobPart; number <= kLastTitleVobPart; ++number) {
        std::string path = m_VobPath;
        SetVobDigit(path, static_cast<char>('0' + number));
        path = ResolveCaseIn(entries, path);
        if (!m_Files.Exists(path)) {
            continue;
        }
        const int64_t sectors = m_Files.SizeBytes(path) / kPackBytes;
        parts.push_back({std::move(path), number, first, sectors});
        first += sectors;
    }
    return parts;
}

std::vector<VobPart> TitleSetFiles::MenuParts() const {
    std::vector<VobPart> parts;
    std::string path = Vob(kMenuVobPart);
    if (m_Files.Exists(path)) {
        const int64_t sectors = m_Files.SizeBytes(path) / kPackBytes;
        parts.push_back({std::move(path), kMenuVobPart, 0, sectors});
    }
    return parts;
}

const VobPart* PartAt(const std::vector<VobPart>& parts, int64_t sector) {
    for (const VobPart& part : parts) {
        if (sector >= part.firstSector && sector < part.firstSector + part.sectors) {
            return &part;
        }
    }
    return nullptr;
}

std::vector<FullDvdStep> FullDvdSteps(const std::string& folder) {
    std::vector<FullDvdStep> steps;
    for (int32_t n = 1; n <= kLastFullDvdTitleSet; ++n) {
        steps.push_back({folder + DvdFileName(n, kMenuVobPart, "VOB"), true});
        steps.push_back({folder + DvdFileName(n, kFirstTitleVobPart, "VOB"), false});
    }
    steps.push_back({folder + DvdFileName(kVideoManager, 0, "VOB"), true});
    return steps;
}

}  // namespace dorvex
