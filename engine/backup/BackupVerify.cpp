#include "engine/backup/BackupVerify.h"

#include <algorithm>

#include "support/FileSystem.h"
#include "support/Paths.h"

namespace dorvex {

namespace {

RecordFinding Found(RecordVerdict verdict, std::string detail) {
    return {verdict, false, std::move(detail)};
}

// "holds 1.2 MiB, the run left 1.0 MiB", or, with the same size, that the bytes differ.
std::string Difference(const FileState& found, const FileState& expected) {
    if (found.size != expected.size) {
        return "holds " + DescribeSize(found.size) + ", " + DescribeSize(expected.size) +
               " were recorded";
    }
    return "holds other bytes of the same size";
}

}  // namespace

RecordFinding VerifyAgainstRecord(FileSystem& files, const BackupManifest& manifest,
                                  const std::string& file, const std::string& copy,
                                  bool checkCopy) {
    const std::string name = GetFileName(file);
    const BackupRecord* record = manifest.Find(name);
    if (record == nullptr) {
        return Found(RecordVerdict::NoRecord, name + " is not in the backup's record");
    }
    std::string error;
    if (checkCopy && !copy.empty()) {
        FileState held;
        if (!MeasureFile(files, copy, held, error)) {
            return Found(RecordVerdict::Unreadable, "couldn't read " + copy + ": " + error);
        }
        if (!record->copied || held != record->original) {
            return Found(RecordVerdict::CopyDiffers,
                         "the copy of " + name + " in the backup " +
                             (record->copied ? Difference(held, record->original)
                                             : std::string("was never recorded")));
        }
    }
    FileState found;
    if (!MeasureFile(files, file, found, error)) {
        return Found(RecordVerdict::Unreadable, "couldn't read " + file + ": " + error);
    }
    if (!record->Accepts(found)) {
        const FileState expected = record->left.empty() ? FileState{} : record->left.back();
        return Found(RecordVerdict::FileDiffers,
                     name + " " +
                         (expected.present ? Difference(found, expected)
                                           : std::string("was not there when the run ended")) +
                         ": it is not what the run left");
    }
    RecordFinding finding;
    // A file that was absent or that the run was still writing says nothing about whose it is.
    finding.fileMatched = found.present && std::find(record->left.begin(), record->left.end(),
                                                     found) != record->left.end();
    return finding;
}

}  // namespace dorvex
