#include "engine/backup/BackupRestore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/backup/BackupVerify.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/WholeFile.h"

namespace dorvex {

namespace {

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

bool TakeName(std::vector<std::string>& names, const std::string& name) {
    const auto it = std::find_if(names.begin(), names.end(), [&name](const std::string& each) {
        return EqualsIgnoreCase(each, name);
    });
    if (it == names.end()) {
        return false;
    }
    names.erase(it);
    return true;
}

bool IsCopyKind(FileKind kind) {
    return kind == FileKind::Regular || kind == FileKind::Link;
}

// A VOB of the same domain (a title set's titles, or a menu) that the record marks as being
// written: the run that made the backup stopped while it wrote that domain's files, and a file of
// it without a record of its own is one the run renamed before it stopped.
bool RunWasWriting(const BackupManifest& manifest, const std::string& file) {
    const std::optional<DvdNameParts> parts = ParseDvdFileName(file);
    if (!parts || parts->kind != DvdFileKind::Vob) {
        return false;
    }
    for (const BackupRecord& record : manifest.Records()) {
        const std::optional<DvdNameParts> other = ParseDvdFileName(record.name);
        if (record.running && other && other->kind == DvdFileKind::Vob &&
            other->titleSet == parts->titleSet && other->IsMenuVob() == parts->IsMenuVob()) {
            return true;
        }
    }
    return false;
}

}  // namespace

BackupRestore::BackupRestore(FileSystem& files, const BackupStore& store,
                             const std::vector<RestoreDomain>& domains,
                             const std::set<std::string>& trustedCopies)
    : m_Files(files), m_Store(store), m_Trusted(trustedCopies) {
    std::vector<std::string> remaining;
    if (m_Files.KindOf(m_Store.Folder()) == FileKind::Folder) {
        for (const std::string& name : m_Files.ListFiles(m_Store.Path())) {
            if (IsDvdFileName(name)) {
                remaining.push_back(name);
            }
        }
    }
    for (const RestoreDomain& domain : domains) {
        PlanDomain(domain, remaining);
    }
}

void BackupRestore::PlanDomain(const RestoreDomain& domain, std::vector<std::string>& remaining) {
    const int32_t titleSet = std::max(0, TitleSetOf(domain.vobPath));
    const TitleSetFiles set(m_Files, domain.vobPath);
    const std::string firstVob = set.Vob(domain.menu ? kMenuVobPart : kFirstTitleVobPart);
    // A domain of a title set the backup holds nothing of has nothing to undo, not even
    // VIDEO_TS.IFO (whose copy belongs to the title sets still cleaned).
    const bool anyCopy =
        std::any_of(remaining.begin(), remaining.end(),
                    [titleSet](const std::string& name) { return TitleSetOf(name) == titleSet; }) ||
        m_Files.KindOf(m_Store.CopyOf(firstVob)) == FileKind::Link;
    if (!anyCopy) {
        return;
    }
    const std::string setName = TitleSetName(titleSet);
    if (std::find(m_SetNames.begin(), m_SetNames.end(), setName) == m_SetNames.end()) {
        m_SetNames.push_back(setName);
    }
    // The VOBs first: the video manager's title-set sectors are taken from them.
    if (domain.menu) {
        m_DomainNames.push_back(GetFileName(firstVob));
        PlanPutBack(firstVob, remaining);
    } else {
        PlanTitleVobs(set, remaining);
    }
    if (titleSet != kVideoManager) {
        for (const std::string& file : {set.Ifo(), set.Bup()}) {
            if (PlanPutBack(file, remaining)) {
                m_DomainNames.push_back(GetFileName(file));
            }
        }
    }
    PlanVideoManager(set, titleSet, remaining);
}

void BackupRestore::PlanTitleVobs(const TitleSetFiles& set, std::vector<std::string>& remaining) {
    // After a complete pass from backup the tidy step may have renamed outputs down to close
    // gaps (VTS_01_3 became VTS_01_2). Such a file has no copy of its own, and the file it was
    // renamed from is gone while its copy waits in the backup folder. A file without a copy
    // that is not such a rename target is an untouched original and stays.
    std::vector<std::string> files;
    std::vector<bool> hadCopy;
    std::vector<bool> present;
    for (int32_t part = kFirstTitleVobPart; part <= kLastTitleVobPart; ++part) {
        files.push_back(set.Vob(part));
        hadCopy.push_back(HasCopy(m_Store.CopyOf(files.back())));
        present.push_back(m_Files.KindOf(files.back()) != FileKind::Missing);
        m_DomainNames.push_back(GetFileName(files.back()));
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (hadCopy[i]) {
            PlanPutBack(files[i], remaining);
            continue;
        }
        bool renamedHere = false;
        for (size_t j = i + 1; j < files.size(); ++j) {
            renamedHere = renamedHere || (hadCopy[j] && !present[j]);
        }
        if (present[i] && renamedHere) {
            m_Steps.push_back({Action::RemoveRenamed, files[i], {}});
        }
    }
}

void BackupRestore::PlanVideoManager(const TitleSetFiles& set, int32_t titleSet,
                                     std::vector<std::string>& remaining) {
    const std::string vmgPath = set.VideoManagerIfo();
    if (!HoldsOtherSets(remaining, titleSet)) {
        // The last set to go back: the copy is the state before the first run, byte for byte.
        for (const std::string& file : {vmgPath, set.VideoManagerBup()}) {
            if (PlanPutBack(file, remaining)) {
                m_DomainNames.push_back(GetFileName(file));
            }
        }
        return;
    }
    // Other title sets stay cleaned, so the copy stays for them, and the IFO on disk takes the
    // title-set sectors of the files as they are now, as a run's last step gives them. Undoing
    // the video manager's own menu starts from its copy's tables.
    const std::string copy = m_Store.CopyOf(vmgPath);
    const bool fromCopy = titleSet == kVideoManager && m_Files.IsRegularFile(copy);
    if (fromCopy || m_Files.KindOf(vmgPath) != FileKind::Missing) {
        m_Steps.push_back({Action::UpdateVideoManager, vmgPath, fromCopy ? copy : std::string()});
    }
}

bool BackupRestore::PlanPutBack(const std::string& file, std::vector<std::string>& remaining) {
    const std::string copy = m_Store.CopyOf(file);
    if (!HasCopy(copy)) {
        return false;
    }
    TakeName(remaining, GetFileName(copy));
    m_Steps.push_back({Action::PutBack, file, copy});
    return true;
}

bool BackupRestore::HasCopy(const std::string& copy) const {
    // A copy an earlier domain of this restore puts back is gone by then (a title set's IFO
    // goes back with its menu).
    return IsCopyKind(m_Files.KindOf(copy)) &&
           std::none_of(m_Steps.begin(), m_Steps.end(),
                        [&copy](const Step& step) { return step.copy == copy; });
}

RestoreCheck BackupRestore::Check() {
    m_ManifestState = m_Manifest.Read(m_Files, m_Store.ManifestPath(), m_ManifestError);
    Findings findings;
    std::vector<std::string> folders{m_Store.Folder()};
    for (const Step& step : m_Steps) {
        const std::string folder = StripSeparator(GetFolder(step.file));
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
        }
    }
    for (const std::string& folder : folders) {
        CheckWritable(folder, findings);
    }
    for (const Step& step : m_Steps) {
        CheckPlace(step, findings);
    }
    // Nothing can move anyway: the record is not worth reading every copy for.
    if (findings.blocked.empty()) {
        for (const Step& step : m_Steps) {
            CheckRecord(step, findings);
        }
    }
    RestoreCheck check;
    if (!findings.blocked.empty()) {
        check.refusal = RestoreRefusal::Blocked;
    } else if (findings.noRecord || !findings.unverified.empty()) {
        check.refusal = RestoreRefusal::Unverified;
    }
    if (check.Refused()) {
        check.message = RefusalMessage(findings);
    }
    return check;
}

void BackupRestore::CheckWritable(const std::string& path, Findings& findings) {
    std::string error;
    if (!m_Files.MayChange(path, error)) {
        findings.blocked.push_back(path + " may not be changed (" + error + ")");
    }
}

void BackupRestore::CheckPlace(const Step& step, Findings& findings) {
    std::vector<std::string> places{step.file};
    if (step.action == Action::UpdateVideoManager) {
        places.push_back(BupOfIfo(m_Files, step.file));  // saved with it
    }
    for (const std::string& place : places) {
        switch (m_Files.KindOf(place)) {
            case FileKind::Link:
                findings.blocked.push_back(place + " is a link");
                findings.link = true;
                break;
            case FileKind::Folder:
            case FileKind::Other:
                findings.blocked.push_back(place + " is not a file");
                break;
            case FileKind::Regular:
                CheckWritable(place, findings);
                break;
            case FileKind::Missing:
                break;
        }
    }
    if (step.action == Action::PutBack && m_Files.KindOf(step.copy) == FileKind::Link) {
        findings.blocked.push_back(step.copy + " is a link, not a copy");
        findings.link = true;
    }
}

void BackupRestore::CheckRecord(const Step& step, Findings& findings) {
    const BackupRecord* record =
        m_ManifestState == ManifestRead::Read ? m_Manifest.Find(GetFileName(step.file)) : nullptr;
    // The undo of a run that did not finish, by the engine that ran it, knows its own copies.
    if (step.action == Action::PutBack && m_Trusted.count(step.copy) != 0 &&
        (record == nullptr || record->running)) {
        return;
    }
    if (m_ManifestState != ManifestRead::Read) {
        findings.noRecord = true;
        return;
    }
    std::vector<std::pair<std::string, std::string>> checks{{step.file, step.copy}};
    if (step.action == Action::UpdateVideoManager) {
        checks = {{step.file, {}}, {BupOfIfo(m_Files, step.file), {}}};
    }
    for (const auto& [file, copy] : checks) {
        const RecordFinding found = VerifyAgainstRecord(m_Files, m_Manifest, file, copy, true);
        if (found.verdict == RecordVerdict::NoRecord && UnrecordedIsExpected(step, file)) {
            continue;
        }
        if (found.verdict != RecordVerdict::AsRecorded) {
            findings.unverified.push_back(found.detail);
        }
        findings.anyMatched = findings.anyMatched || found.fileMatched;
    }
}

bool BackupRestore::UnrecordedIsExpected(const Step& step, const std::string& file) const {
    switch (step.action) {
        case Action::PutBack:
            return false;
        case Action::RemoveRenamed:
            return RunWasWriting(m_Manifest, file);
        case Action::UpdateVideoManager:
            // A VIDEO_TS.IFO the runs did not copy (it was damaged then) is no claim of the
            // backup's.
            return m_Files.KindOf(m_Store.CopyOf(file)) == FileKind::Missing;
    }
    return false;
}

std::string BackupRestore::RefusalMessage(const Findings& findings) const {
    const std::string head = "Couldn't restore " + What() + " from " + m_Store.Folder() + ": ";
    if (!findings.blocked.empty()) {
        std::string next = "Nothing was changed; ";
        if (findings.link) {
            next +=
                "Dorvex never restores over or through a link: put the file itself in place "
                "of a link in the disc folder, and move a link in the backup folder back to "
                "where it was yourself; ";
        }
        return head + Join(findings.blocked, "; ") + ". " + next +
               "make the folders and files writable, then restore again.";
    }
    const std::string force =
        "restore anyway (dorvex-cli restore --force, or confirm in the dialog)";
    if (findings.noRecord) {
        const std::string why =
            m_ManifestState == ManifestRead::Missing
                ? "it holds no record of the files its copies belong to (an older Dorvex made "
                  "it, or the record was removed)"
                : "its record " + m_Store.ManifestPath() + " cannot be read (" + m_ManifestError +
                      ")";
        return head + why +
               ", so nothing tells whether they are this disc's. Nothing was changed; if they "
               "are, " +
               force + "; if not, move the backup folder away.";
    }
    const std::string whose =
        findings.anyMatched
            ? "These files were changed since the run that made the backup."
            : "The backup looks like another disc's (or these files were changed since).";
    return head + Join(findings.unverified, "; ") + ". " + whose +
           " Nothing was changed; move the backup folder away if it is not this disc's, or, to "
           "replace these files with its copies, " +
           force + ".";
}

bool BackupRestore::Run() {
    std::vector<std::string> notDone;
    for (const Step& step : m_Steps) {
        std::string reason;
        if (!Perform(step, reason)) {
            notDone.push_back(step.file + " (" + reason + ")");
        }
    }
    if (std::string reason; !UpdateRecord(reason)) {
        notDone.push_back(m_Store.ManifestPath() + " (" + reason + ")");
    }
    if (notDone.empty()) {
        Logf("Backup files restored");
        return true;
    }
    Alert(("Restore of " + What() + " incomplete: " + Join(notDone, "; ") +
           " not done. What was not put back is still in " + m_Store.Folder() +
           "; once the cause is fixed, restore again.")
              .c_str());
    return false;
}

bool BackupRestore::Perform(const Step& step, std::string& reason) {
    switch (step.action) {
        case Action::PutBack: {
            // A whole-file write cut short (a kill, a crash) leaves its temporary file behind;
            // the target itself was never touched, so the leftover is only clutter.
            for (const std::string& partial :
                 {PartialPathFor(step.file), PartialPathFor(step.copy)}) {
                if (m_Files.IsRegularFile(partial)) {
                    m_Files.Remove(partial);
                }
            }
            // rename() replaces an existing file atomically, so the file is never absent
            // meanwhile. A file that is gone comes back under the name its copy keeps.
            const std::string target = m_Files.KindOf(step.file) != FileKind::Missing
                                           ? step.file
                                           : GetFolder(step.file) + GetFileName(step.copy);
            if (m_Files.Rename(step.copy, target) != 0) {
                reason = strerror(errno);
                return false;
            }
            Logf("Restored %s", target.c_str());
            return true;
        }
        case Action::RemoveRenamed:
            if (m_Files.Remove(step.file) != 0) {
                reason = strerror(errno);
                return false;
            }
            Logf("Removed %s, to which the run had renamed a later file", step.file.c_str());
            return true;
        case Action::UpdateVideoManager:
            return UpdateVideoManagerIfo(step, reason);
    }
    return false;
}

bool BackupRestore::UpdateVideoManagerIfo(const Step& step, std::string& reason) {
    CIfoFile vmg(step.copy.empty() ? step.file : step.copy, m_Files);
    if (!vmg.m_bLoaded) {
        return true;  // a damaged one is left alone, as a run leaves it
    }
    vmg.m_szPath = step.file;
    vmg.UpdateSizeFields(true);
    if (vmg.Save(step.file, Durability::Flushed) != 0) {
        reason = vmg.SaveFailedPath() + ": " + vmg.SaveError();
        return false;
    }
    // What is there now is what the remaining title sets' restore will find.
    for (const std::string& file : {step.file, BupOfIfo(m_Files, step.file)}) {
        FileState state;
        std::string error;
        BackupRecord* record = m_Manifest.Find(GetFileName(file));
        if (record != nullptr && MeasureFile(m_Files, file, state, error)) {
            record->left = {state};
            record->running = false;
        }
    }
    Logf("Brought %s in line with the title sets as they now are", step.file.c_str());
    return true;
}

bool BackupRestore::UpdateRecord(std::string& reason) {
    if (m_ManifestState == ManifestRead::Unreadable) {
        return true;  // a forced restore leaves what it could not read as it is
    }
    for (const std::string& name : m_DomainNames) {
        if (m_Files.KindOf(m_Store.CopyOf(m_Store.Path() + name)) == FileKind::Missing) {
            m_Manifest.Erase(name);
        }
    }
    const std::vector<std::string> left = m_Files.ListFiles(m_Store.Path());
    const bool copiesLeft = std::any_of(left.begin(), left.end(), IsDvdFileName);
    const std::string path = m_Store.ManifestPath();
    if (!copiesLeft) {
        // The backup is empty: its record goes with it.
        if (m_Files.KindOf(path) == FileKind::Regular && m_Files.Remove(path) != 0) {
            reason = strerror(errno);
            return false;
        }
        return true;
    }
    return m_ManifestState != ManifestRead::Read ||
           m_Manifest.Write(m_Files, path, Durability::Flushed, reason);
}

std::string BackupRestore::What() const {
    return m_SetNames.empty() ? std::string("nothing") : Join(m_SetNames, ", ");
}

}  // namespace dorvex
