#include "support/TitleSetFiles.h"

#include <algorithm>
#include <cstdio>

#include "support/FileSystem.h"
#include "support/Paths.h"

namespace dorvex {

namespace {

constexpr int64_t kPackBytes = 2048;

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
    return titleSet == kVideoManager ? "VIDEO_TS" : name.substr(0, 6);
}

int32_t TitleSetOf(std::string_view path) {
    const std::string name = GetFileName(path);
    if (IsVideoManagerName(name)) {
        return kVideoManager;
    }
    int titleSet = 0;
    int part = 0;
    char tail = 0;
    if (name.size() == 12 && EqualsIgnoreCase(name.substr(0, 4), "VTS_") &&
        std::sscanf(name.c_str() + 4, "%2d_%1d.%c", &titleSet, &part, &tail) == 3 &&
        titleSet >= 1 && titleSet <= kLastTitleSet) {
        return titleSet;
    }
    return -1;
}

bool IsDvdFileName(std::string_view name) {
    const std::string ext = GetFileExt(name);
    const bool vob = EqualsIgnoreCase(ext, ".VOB");
    const bool ifo = EqualsIgnoreCase(ext, ".IFO") || EqualsIgnoreCase(ext, ".BUP");
    if (!vob && !ifo) {
        return false;
    }
    const std::string base = GetBaseName(name);
    if (EqualsIgnoreCase(base, "video_ts")) {
        return true;
    }
    auto digit = [&](size_t i) { return base[i] >= '0' && base[i] <= '9'; };
    if (base.size() != 8 || !EqualsIgnoreCase(base.substr(0, 4), "VTS_") || !digit(4) ||
        !digit(5) || base[6] != '_' || !digit(7) || (base[4] == '0' && base[5] == '0')) {
        return false;
    }
    return vob || base[7] == '0';
}

std::string ResolveCase(FileSystem& files, const std::string& path) {
    const std::string name = GetFileName(path);
    std::string found;
    for (const std::string& entry : files.ListFiles(GetFolder(path))) {
        if (entry == name) {
            return path;
        }
        if (found.empty() && EqualsIgnoreCase(entry, name)) {
            found = entry;
        }
    }
    return found.empty() ? path : GetFolder(path) + found;
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

std::string JournalTitleSetName(std::string_view name) {
    constexpr std::string_view kVideoManagerName = "VIDEO_TS";
    const size_t setNameSize = 6;  // VTS_nn
    if (name.size() >= kVideoManagerName.size() &&
        EqualsIgnoreCase(name.substr(0, kVideoManagerName.size()), kVideoManagerName)) {
        return std::string(kVideoManagerName);
    }
    return std::string(name.substr(0, std::min(name.size(), setNameSize)));
}

std::string TitleSetFiles::Journal(bool menu) const {
    const int32_t titleSet = TitleSetOf(m_VobPath);
    std::string name = TitleSetName(std::max(titleSet, 0));
    if (menu && titleSet != kVideoManager) {
        name += "_menu";
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
    int64_t first = 0;
    for (int32_t number = kFirstTitleVobPart; number <= kLastTitleVobPart; ++number) {
        std::string path = Vob(number);
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
