#include "engine/backup/BackupRestore.h"

#include <algorithm>
#include <vector>

#include "ifo/IfoFile.h"
#include "support/Sinks.h"

namespace dorvex {

BackupRestore::BackupRestore(FileSystem& files, const BackupStore& store,
                             const std::string& vobPath, bool menu)
    : m_Files(files),
      m_Store(store),
      m_Set(files, vobPath),
      m_VobPath(vobPath),
      m_Menu(menu),
      m_TitleSet(std::max(0, TitleSetOf(vobPath))) {}

bool BackupRestore::Run() {
    // The VOBs first: the video manager's title-set sectors are taken from them.
    if (m_Menu) {
        m_Store.RestoreFile(m_VobPath);
    } else {
        RestoreTitleVobs();
    }
    if (m_TitleSet != kVideoManager) {
        m_Store.RestoreFile(m_Set.Ifo());
        m_Store.RestoreFile(m_Set.Bup());
    }
    const bool saved = RestoreVideoManagerIfo();
    Logf("Backup files restored");
    return saved;
}

void BackupRestore::RestoreTitleVobs() {
    // After a complete pass from backup the tidy step may have renamed outputs down to close
    // gaps (VTS_01_3 became VTS_01_2). Such a file has no copy of its own, and the file it was
    // renamed from is gone while its copy waits in the backup folder. A file without a copy
    // that is not such a rename target is an untouched original and stays.
    std::vector<std::string> set;
    std::vector<bool> hadCopy;
    std::vector<bool> present;
    for (int32_t part = kFirstTitleVobPart; part <= kLastTitleVobPart; ++part) {
        set.push_back(m_Set.Vob(part));
        hadCopy.push_back(m_Files.IsRegularFile(m_Store.CopyOf(set.back())));
        present.push_back(m_Files.Exists(set.back()));
    }
    for (size_t i = 0; i < set.size(); ++i) {
        if (hadCopy[i]) {
            m_Store.RestoreFile(set[i]);
            continue;
        }
        bool renamedHere = false;
        for (size_t j = i + 1; j < set.size(); ++j) {
            renamedHere = renamedHere || (hadCopy[j] && !present[j]);
        }
        if (present[i] && renamedHere) {
            m_Files.Remove(set[i]);
        }
    }
}

bool BackupRestore::RestoreVideoManagerIfo() {
    const std::string vmgPath = m_Set.VideoManagerIfo();
    if (!m_Store.HoldsOtherSets(m_TitleSet)) {
        // The last set to go back: the copy is the state before the first run, byte for byte.
        m_Store.RestoreFile(vmgPath);
        m_Store.RestoreFile(m_Set.VideoManagerBup());
        return true;
    }
    // Other title sets stay cleaned, so the copy stays for them, and the IFO on disk takes the
    // title-set sectors of the files as they are now, as a run's last step gives them. Undoing
    // the video manager's own menu starts from its copy's tables.
    const std::string copy = m_Store.CopyOf(vmgPath);
    const bool fromCopy = m_TitleSet == kVideoManager && m_Files.IsRegularFile(copy);
    if (!fromCopy && !m_Files.IsRegularFile(vmgPath)) {
        return true;
    }
    CIfoFile vmg(fromCopy ? copy : vmgPath, m_Files);
    if (!vmg.m_bLoaded) {
        return true;
    }
    vmg.m_szPath = vmgPath;
    vmg.UpdateSizeFields(true);
    if (vmg.Save(vmgPath, Durability::Flushed) != 0) {
        Alertf("Couldn't write %s: %s", vmg.SaveFailedPath().c_str(), vmg.SaveError().c_str());
        return false;
    }
    return true;
}

}  // namespace dorvex
