#include "engine/preflight/Preflight.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/Navpack.h"
#include "engine/PackLayout.h"
#include "engine/backup/BackupManifest.h"
#include "engine/backup/BackupVerify.h"
#include "engine/journal/JournalSummary.h"
#include "ifo/IfoFile.h"
#include "ifo/PgcStructure.h"
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

RunCheck Preflight::BeforeRun() const {
    // A half-moved stream fails every check below; only the run that moved it may go on.
    const JournalState journal = InspectJournal(m_Step.files, m_Step.Journal()).state;
    if (journal != JournalState::Missing && journal != JournalState::Unstarted) {
        return InterruptedRun(true);
    }
    if (!m_Step.inPlace) {
        if (RunCheck check = BackupFolder(); check.Refused()) {
            return check;
        }
    }
    return Ifo();
}

RunCheck Preflight::Ifo() const {
    const std::string ifoPath = m_Step.Files().Ifo();
    if (!m_Step.files.Exists(ifoPath)) {
        return {RunRefusal::Ifo,
                Format("%s is missing: a title set is cleaned only together with its IFO. Nothing "
                       "was changed; put the IFO back (its .BUP copy will do, renamed) and run "
                       "again.",
                       ifoPath.c_str())};
    }
    CIfoFile ifo(ifoPath, m_Step.files);
    if (!ifo.m_bLoaded) {
        const std::string reason = ifo.LoadError().empty() ? "it cannot be read" : ifo.LoadError();
        return {RunRefusal::Ifo,
                Format("Couldn't use %s: %s. Nothing was changed; repair or replace the IFO (its "
                       ".BUP copy may be intact) and run again.",
                       ifoPath.c_str(), reason.c_str())};
    }
    if (RunCheck check = PgcStructure(ifo); check.Refused()) {
        return check;
    }
    if (!m_Step.allowShort) {
        return StreamAgainstIfo(ifo);
    }
    return {};
}

RunCheck Preflight::PgcStructure(CIfoFile& ifo) const {
    // The step rewrites the cells of its own domain; the video manager's First-Play PGC plays
    // cells of its menu VOB.
    std::vector<ImpossiblePgc> found = FindImpossiblePgcs(ifo, m_Step.menu);
    if (ifo.m_bVmg) {
        const std::vector<ImpossiblePgc> firstPlay = FindImpossiblePgcs(ifo, false);
        found.insert(found.begin(), firstPlay.begin(), firstPlay.end());
    }
    if (found.empty()) {
        return {};
    }
    const std::string more =
        found.size() == 1 ? "" : " (and " + std::to_string(found.size() - 1) + " more)";
    return {RunRefusal::Ifo,
            Format("Couldn't use %s: %s%s. No disc holds such a program chain: the IFO is damaged "
                   "past what a clean repairs. Nothing was changed; put an intact copy of the "
                   "IFO in its place (the .BUP beside it, if it is not damaged the same way, or "
                   "the IFO of another copy of the disc) and run again.",
                   ifo.m_szPath.c_str(), found.front().text.c_str(), more.c_str())};
}

RunCheck Preflight::InterruptedRun(bool mayFinish) const {
    const std::string path = m_Step.Journal();
    const JournalSummary journal = InspectJournal(m_Step.files, path);
    const bool finishable = journal.state == JournalState::Readable && mayFinish &&
                            m_Step.inPlace && journal.options == m_Step.options;
    if (finishable || journal.state == JournalState::Missing ||
        journal.state == JournalState::Unstarted) {
        return {};
    }
    const std::string setName = TitleSetName(std::max(0, TitleSetOf(m_Step.vobPath)));
    return {RunRefusal::HalfCleaned,
            HalfCleanedMessage(setName, path, journal) + " Nothing was changed."};
}

RunCheck Preflight::BeforeBackupCommand(bool wholeFolder) const {
    const JournalState own = InspectJournal(m_Step.files, m_Step.Journal()).state;
    if (own != JournalState::Missing && own != JournalState::Unstarted) {
        return InterruptedRun(false);
    }
    if (!wholeFolder) {
        return {};
    }
    const std::string folder = m_Step.Files().Folder();
    for (const std::string& name : m_Step.files.ListFiles(folder)) {
        const JournalSummary journal = InspectJournal(m_Step.files, folder + name);
        const std::optional<JournalNameParts> parts = ParseJournalFileName(name);
        if (parts && journal.state != JournalState::Unstarted) {
            const std::string setName = TitleSetName(parts->titleSet);
            return {RunRefusal::HalfCleaned,
                    HalfCleanedMessage(setName, folder + name, journal) + " Nothing was changed."};
        }
    }
    return {};
}

RunCheck Preflight::BackupFolder() const {
    const BackupStore backup = m_Step.backup;
    if (!backup.IsUsable()) {
        return {RunRefusal::BackupFolder, backup.UnsafeMessage()};
    }
    const int32_t titleSet = TitleSetOf(m_Step.vobPath);
    if (titleSet < 0) {
        return {};
    }
    const TitleSetFiles files = m_Step.Files();
    for (const VobPart& part : files.Parts(m_Step.menu)) {
        if (m_Step.files.KindOf(part.path) == FileKind::Link) {
            return {RunRefusal::BackupFolder,
                    Format("%s is a link: a run from backup moves the file itself into the backup "
                           "folder, and a link there would be no copy of it. Nothing was changed; "
                           "put the file itself in place of the link, or clean in place (-i).",
                           part.path.c_str())};
        }
    }
    if (m_Step.files.KindOf(backup.Folder()) == FileKind::Missing) {
        return {};
    }
    if (std::vector<std::string> taken = EarlierCopies(); !taken.empty()) {
        return EarlierBackup(taken, TitleSetName(titleSet));
    }
    // The copy of VIDEO_TS.IFO is kept from the first run that made the folder: this run's
    // result is undone with it, so it must be this disc's too.
    const std::string vmgCopy = backup.CopyOf(files.VideoManagerIfo());
    if (m_Step.files.KindOf(vmgCopy) != FileKind::Missing && !MadeThisRun(vmgCopy)) {
        bool running = false;
        return ForeignBackup({vmgCopy}, GetFileName(vmgCopy), running);
    }
    return {};
}

bool Preflight::MadeThisRun(const std::string& copy) const {
    return m_Step.copiesThisRun != nullptr && m_Step.copiesThisRun->count(copy) != 0;
}

std::vector<std::string> Preflight::EarlierCopies() const {
    // The copies this step would make, and any other copy of the set's files: the video
    // manager's IFO is kept from the first run that made the folder, whatever title set that run
    // cleaned, so for it only a copy of VIDEO_TS.VOB means its menu was cleaned.
    const BackupStore& backup = m_Step.backup;
    const int32_t titleSet = TitleSetOf(m_Step.vobPath);
    std::vector<std::string> candidates;
    const TitleSetFiles files = m_Step.Files();
    for (const std::string& path : {files.Ifo(), files.Bup()}) {
        if (titleSet != kVideoManager) {
            candidates.push_back(backup.CopyOf(path));
        }
    }
    for (const VobPart& part : files.Parts(m_Step.menu)) {
        candidates.push_back(backup.CopyOf(part.path));
    }
    for (const std::string& name : m_Step.files.ListFiles(backup.Path())) {
        if (IsDvdFileName(name) && TitleSetOf(name) == titleSet &&
            (titleSet != kVideoManager || EqualsIgnoreCase(GetFileExt(name), ".VOB"))) {
            candidates.push_back(backup.Path() + name);
        }
    }
    std::vector<std::string> taken;
    for (const std::string& copy : candidates) {
        if (m_Step.files.KindOf(copy) != FileKind::Missing && !MadeThisRun(copy) &&
            std::find(taken.begin(), taken.end(), copy) == taken.end()) {
            taken.push_back(copy);
        }
    }
    return taken;
}

RunCheck Preflight::EarlierBackup(const std::vector<std::string>& copies,
                                  const std::string& what) const {
    bool running = false;
    if (RunCheck foreign = ForeignBackup(copies, what, running); foreign.Refused()) {
        return foreign;
    }
    const std::string folder = m_Step.backup.Folder();
    if (running) {
        return {
            RunRefusal::EarlierBackup,
            folder + " already holds " + what +
                " from an earlier run on these files that "
                "did not finish: Restore Backup to undo it, then run again. Nothing was changed."};
    }
    return {RunRefusal::EarlierBackup,
            folder + " already holds " + what +
                " from an earlier run on these files: Restore "
                "Backup to undo that run, or Delete Backup to keep the current files"};
}

RunCheck Preflight::ForeignBackup(const std::vector<std::string>& copies, const std::string& what,
                                  bool& running) const {
    const std::string folder = m_Step.backup.Folder();
    for (const std::string& copy : copies) {
        if (m_Step.files.KindOf(copy) != FileKind::Regular) {
            return {RunRefusal::EarlierBackup, folder + " already holds " + what +
                                                   " from an earlier run, or something else "
                                                   "where a copy goes: " +
                                                   copy +
                                                   " is not a file. Nothing was changed; move it "
                                                   "away and run again."};
        }
    }
    BackupManifest manifest;
    std::string error;
    const ManifestRead read = manifest.Read(m_Step.files, m_Step.backup.ManifestPath(), error);
    if (read != ManifestRead::Read) {
        const std::string why =
            read == ManifestRead::Missing
                ? std::string(
                      "with no record of the files it belongs to (an older Dorvex made "
                      "it)")
                : "and its record " + m_Step.backup.ManifestPath() + " cannot be read (" + error +
                      ")";
        return {RunRefusal::EarlierBackup,
                folder + " already holds " + what + " from an earlier run, " + why +
                    ": it may be another disc's. Nothing was changed; move it away and run "
                    "again (if it is this disc's earlier run, Restore Backup with --force undoes "
                    "it, and Delete Backup keeps the current files)."};
    }
    for (const std::string& copy : copies) {
        const std::string file = m_Step.Files().Folder() + GetFileName(copy);
        const RecordFinding found = VerifyAgainstRecord(m_Step.files, manifest, file, copy, true);
        if (found.verdict != RecordVerdict::AsRecorded) {
            return {RunRefusal::EarlierBackup, folder + " already holds " + what +
                                                   " from an earlier run, but not of these "
                                                   "files: " +
                                                   found.detail +
                                                   " (another disc's backup, or these files were "
                                                   "changed since). Nothing was changed; move " +
                                                   folder +
                                                   " away (it may hold "
                                                   "another disc's only copy) and run again."};
        }
        const BackupRecord* record = manifest.Find(GetFileName(copy));
        running = running || (record != nullptr && record->running);
    }
    return {};
}

std::string Preflight::DomainName() const {
    return TitleSetName(std::max(0, TitleSetOf(m_Step.vobPath))) +
           (m_Step.menu ? " menu" : " titles");
}

RunCheck Preflight::StreamAgainstIfo(CIfoFile& ifo) const {
    if (RunCheck check = StreamLength(ifo); check.Refused()) {
        return check;
    }
    return VobuStarts(ifo);
}

RunCheck Preflight::StreamLength(CIfoFile& ifo) const {
    const bool menu = m_Step.menu;
    const TitleSetFiles files = m_Step.Files();
    const std::vector<VobPart> parts = files.Parts(menu);
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
    if (have >= described) {
        return {};
    }
    const std::string held = parts.empty()       ? std::string("no VOB file")
                             : parts.size() == 1 ? GetFileName(parts.front().path)
                                                 : GetFileName(parts.front().path) + " to " +
                                                       GetFileName(parts.back().path);
    const std::string missing = gap.empty() ? "" : " (" + gap + " is missing)";
    return {RunRefusal::ShortStream,
            Format("%s: %s hold %lld sectors, the IFO describes %lld%s. Nothing was changed; "
                   "copy the missing part back, or clean what is there on purpose "
                   "(dorvex-cli clean --allow-short, or confirm in the dialog).",
                   DomainName().c_str(), held.c_str(), static_cast<long long>(have),
                   static_cast<long long>(described), missing.c_str())};
}

RunCheck Preflight::VobuStarts(CIfoFile& ifo) const {
    // Where the IFO says VOBUs start, the stream must hold navigation packs: a VOB of random
    // bytes or from another disc does not. Damage the run repairs never blanks a navpack, but
    // a few may be broken, so half of a sample must be there.
    const bool menu = m_Step.menu;
    const std::vector<VobPart> parts = m_Step.Files().Parts(menu);
    const std::vector<uint32_t> starts = ifo.VobuStarts(menu);
    const size_t step = std::max<size_t>(1, starts.size() / kVobuStartsSampled);
    int32_t looked = 0;
    int32_t found = 0;
    uint8_t pack[pack::kPackSize];
    // A file is opened again only when the samples move on to another one (in an IFO's own
    // order, once per file).
    const VobPart* openPart = nullptr;
    std::unique_ptr<FileHandle> file;
    for (size_t i = 0; i < starts.size(); i += step) {
        const VobPart* part = PartAt(parts, starts[i]);
        if (part == nullptr) {
            continue;
        }
        std::string error;
        if (part != openPart) {
            file = m_Step.files.Open(part->path, OpenMode::Read, error);
            openPart = part;
        }
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
        found += got == pack::kPackSize && navpack::IsNavpack(pack) ? 1 : 0;
    }
    if (found * 2 >= looked) {
        return {};
    }
    return {RunRefusal::ShortStream,
            Format("%s: %d of %d places where the IFO says a VOBU starts hold no navigation "
                   "pack: the VOB files do not belong to this IFO. Nothing was changed; put "
                   "the title set's own files back, or clean them on purpose (dorvex-cli "
                   "clean --allow-short, or confirm in the dialog).",
                   DomainName().c_str(), looked - found, looked)};
}

}  // namespace dorvex
