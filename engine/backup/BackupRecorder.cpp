#include "engine/backup/BackupRecorder.h"

#include <optional>

#include "support/FileSystem.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

BackupRecorder::BackupRecorder(FileSystem& files, const BackupStore& store)
    : m_Files(files), m_Store(store) {}

bool BackupRecorder::Load(std::string& error) {
    m_Changed = false;
    return m_Manifest.Read(m_Files, m_Store.ManifestPath(), error) != ManifestRead::Unreadable;
}

void BackupRecorder::WillCopy(const std::string& file, const FileState& copy,
                              const FileState& now) {
    // Whatever an earlier record said of this name is an earlier run's whose copy is gone (the
    // checks before a run refuse one that is still there).
    BackupRecord& record = m_Manifest.Entry(GetFileName(file));
    record.copied = true;
    record.original = copy;
    record.running = true;
    record.left = {now};
    m_Changed = true;
}

bool BackupRecorder::Keeps(const std::string& file, const std::string& copy, std::string& error) {
    if (m_Files.KindOf(copy) == FileKind::Missing) {
        return true;
    }
    FileState now;
    if (!MeasureFile(m_Files, file, now, error)) {
        return false;
    }
    BackupRecord* record = m_Manifest.Find(GetFileName(file));
    if (record == nullptr) {
        // A copy no record names yet: what it holds is what it stands for from now on.
        FileState held;
        if (!MeasureFile(m_Files, copy, held, error)) {
            return false;
        }
        WillCopy(file, held, now);
        return true;
    }
    const size_t states = record->left.size();
    record->AddLeft(now);
    m_Changed = m_Changed || !record->running || record->left.size() != states;
    record->running = true;
    return true;
}

void BackupRecorder::MayBecome(const std::string& file, const FileState& state) {
    BackupRecord* record = m_Manifest.Find(GetFileName(file));
    if (record == nullptr) {
        return;  // a file the backup holds no copy of is no concern of a restore
    }
    const size_t states = record->left.size();
    record->AddLeft(state);
    m_Changed = m_Changed || record->left.size() != states;
}

bool BackupRecorder::Left(const std::string& file, std::string& error) {
    FileState now;
    if (!MeasureFile(m_Files, file, now, error)) {
        return false;
    }
    BackupRecord* record = m_Manifest.Find(GetFileName(file));
    if (record == nullptr) {
        const std::optional<DvdNameParts> parts = ParseDvdFileName(file);
        if (!now.present || !parts || parts->kind != DvdFileKind::Vob) {
            return true;
        }
        record = &m_Manifest.Entry(GetFileName(file));
    } else if (!record->running) {
        return true;
    }
    record->running = false;
    record->left = {now};
    m_Changed = true;
    return true;
}

bool BackupRecorder::Save(Durability durability, std::string& error) {
    if (!m_Changed) {
        return true;
    }
    if (!m_Manifest.Write(m_Files, m_Store.ManifestPath(), durability, error)) {
        return false;
    }
    m_Changed = false;
    return true;
}

}  // namespace dorvex
