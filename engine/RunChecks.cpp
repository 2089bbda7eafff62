// What a run checks before it changes anything, so that a title set it cannot clean whole is left
// exactly as it is: a backup folder of its own that holds nothing of this title set from an
// earlier run, an IFO it can use, and a stream as long as the IFO says, whose VOBUs start where
// the IFO says.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/Navpack.h"
#include "engine/VtsCleaner.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

// VOBU starts looked at to tell whether the stream belongs to the IFO.
constexpr size_t kVobuStartsSampled = 32;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[kStatusCapacity];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

}  // namespace

RunCheck CVtsCleaner::CheckBeforeRun() {
    // A half-moved stream fails every check below; only the run that moved it may go on.
    if (FindJournal() == JournalFound::Present) {
        return CheckInterruptedRun();
    }
    if (!m_InPlace) {
        if (RunCheck check = CheckBackupFolder(); check.Refused()) {
            return check;
        }
    }
    const std::string ifoPath = SetFiles().Ifo();
    if (!m_Files.Exists(ifoPath)) {
        return {RunRefusal::Ifo,
                Format("%s is missing: a title set is cleaned only together with its IFO. Nothing "
                       "was changed; put the IFO back (its .BUP copy will do, renamed) and run "
                       "again.",
                       ifoPath.c_str())};
    }
    CIfoFile ifo(ifoPath, m_Files);
    if (!ifo.m_bLoaded) {
        const std::string reason = ifo.LoadError().empty() ? "it cannot be read" : ifo.LoadError();
        return {RunRefusal::Ifo,
                Format("Couldn't use %s: %s. Nothing was changed; repair or replace the IFO (its "
                       ".BUP copy may be intact) and run again.",
                       ifoPath.c_str(), reason.c_str())};
    }
    if (!m_AllowShort) {
        return CheckStreamAgainstIfo(ifo);
    }
    return {};
}

RunCheck CVtsCleaner::CheckBackupFolder() {
    const std::string folder = BackupFolder();
    const FileKind kind = m_Files.KindOf(StripSeparator(folder));
    if (kind != FileKind::Missing && kind != FileKind::Folder) {
        return {RunRefusal::BackupFolder, UnsafeBackupFolderMessage()};
    }
    const int32_t titleSet = TitleSetOf(VobPathSnapshot());
    if (kind == FileKind::Missing || titleSet < 0) {
        return {};
    }
    // The copies this step would make, and any other copy of the set's files: the video
    // manager's IFO is kept from the first run that made the folder, whatever title set that run
    // cleaned, so for it only a copy of VIDEO_TS.VOB means its menu was cleaned.
    std::vector<std::string> taken;
    const TitleSetFiles files = SetFiles();
    for (const std::string& path : {files.Ifo(), files.Bup()}) {
        if (titleSet != kVideoManager) {
            taken.push_back(GetBackupPath(path));
        }
    }
    for (const VobPart& part : files.Parts(m_Menu != 0)) {
        taken.push_back(GetBackupPath(part.path));
    }
    for (const std::string& name : m_Files.ListFiles(folder)) {
        if (IsDvdFileName(name) && TitleSetOf(name) == titleSet &&
            (titleSet != kVideoManager || EqualsIgnoreCase(GetFileExt(name), ".VOB"))) {
            taken.push_back(folder + name);
        }
    }
    for (const std::string& copy : taken) {
        if (m_Files.KindOf(copy) == FileKind::Missing || m_CopiesThisRun.count(copy) != 0) {
            continue;
        }
        return {RunRefusal::EarlierBackup,
                Format("%s already holds %s from an earlier run: Restore Backup to undo that "
                       "run, or Delete Backup to keep the current files",
                       StripSeparator(folder).c_str(), TitleSetName(titleSet).c_str())};
    }
    return {};
}

RunCheck CVtsCleaner::CheckStreamAgainstIfo(CIfoFile& ifo) {
    const bool menu = m_Menu != 0;
    const TitleSetFiles files = SetFiles();
    const std::vector<VobPart> parts = files.Parts(menu);
    const std::string domain =
        TitleSetName(std::max(0, TitleSetOf(VobPathSnapshot()))) + (menu ? " menu" : " titles");
    int64_t have = 0;
    std::string gap;
    int32_t expected = menu ? kMenuVobPart : kFirstTitleVobPart;
    for (const VobPart& part : parts) {
        if (part.number != expected && gap.empty()) {
            gap = GetFileName(files.Vob(expected));
        }
        expected = part.number + 1;
        have += part.sectors;
    }
    int64_t described = ifo.DescribedSectors(menu);
    if (!menu) {
        described = std::max(described, ifo.HeaderTitleVobSectors());
    }
    if (have < described) {
        const std::string held = parts.empty()       ? std::string("no VOB file")
                                 : parts.size() == 1 ? GetFileName(parts.front().path)
                                                     : GetFileName(parts.front().path) + " to " +
                                                           GetFileName(parts.back().path);
        const std::string missing = gap.empty() ? "" : " (" + gap + " is missing)";
        return {RunRefusal::ShortStream,
                Format("%s: %s hold %lld sectors, the IFO describes %lld%s. Nothing was changed; "
                       "copy the missing part back, or clean what is there on purpose "
                       "(dorvex-cli clean --allow-short, or confirm in the dialog).",
                       domain.c_str(), held.c_str(), static_cast<long long>(have),
                       static_cast<long long>(described), missing.c_str())};
    }
    // Where the IFO says VOBUs start, the stream must hold navigation packs: a VOB of random
    // bytes or from another disc does not. Damage the run repairs never blanks a navpack, but
    // a few may be broken, so half of a sample must be there.
    const std::vector<uint32_t> starts = ifo.VobuStarts(menu);
    const size_t step = std::max<size_t>(1, starts.size() / kVobuStartsSampled);
    int32_t looked = 0;
    int32_t found = 0;
    uint8_t pack[pack::kPackSize];
    for (size_t i = 0; i < starts.size(); i += step) {
        const VobPart* part = PartAt(parts, starts[i]);
        if (part == nullptr) {
            continue;
        }
        std::string error;
        std::unique_ptr<FileHandle> file = m_Files.Open(part->path, OpenMode::Read, error);
        const int64_t got = file == nullptr
                                ? -1
                                : file->Read(pack, pack::kPackSize,
                                             (starts[i] - part->firstSector) * pack::kPackSize);
        if (got < 0) {
            if (error.empty()) {
                error = strerror(errno);
            }
            return {RunRefusal::Unreadable, Format("Couldn't read %s: %s. Nothing was changed.",
                                                   part->path.c_str(), error.c_str())};
        }
        ++looked;
        if (got == pack::kPackSize && navpack::IsNavpack(pack)) {
            ++found;
        }
    }
    if (found * 2 < looked) {
        return {RunRefusal::ShortStream,
                Format("%s: %d of %d places where the IFO says a VOBU starts hold no navigation "
                       "pack: the VOB files do not belong to this IFO. Nothing was changed; put "
                       "the title set's own files back, or clean them on purpose (dorvex-cli "
                       "clean --allow-short, or confirm in the dialog).",
                       domain.c_str(), looked - found, looked)};
    }
    return {};
}

}  // namespace dorvex
