#include "engine/journal/JournalSummary.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/journal/JournalFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

JournalSummary InspectJournal(FileSystem& files, const std::string& path) {
    JournalSummary summary;
    switch (files.KindOf(path)) {
        case FileKind::Missing:
            return summary;
        case FileKind::Regular:
            break;
        default:
            summary.state = JournalState::NotAFile;
            return summary;
    }
    std::vector<uint8_t> bytes;
    if (!files.ReadWhole(path, bytes, summary.error)) {
        summary.state = JournalState::Unreadable;
        return summary;
    }
    if (JournalFile::IsCutShortCreate(bytes, kJournalMagic, sizeof(kJournalMagic))) {
        summary.state = JournalState::Unstarted;
        return summary;
    }
    size_t end = 0;
    const std::vector<std::vector<uint8_t>> frames = JournalFile::Frames(bytes, end);
    JournalHeader header;
    if (frames.empty() || !DecodeJournalHeader(frames.front(), header)) {
        summary.state = JournalState::Unreadable;
        summary.error = "not a journal this version of Dorvex can read";
        return summary;
    }
    summary.state = JournalState::Readable;
    summary.options = header.options;
    return summary;
}

bool RemoveUnstartedJournal(FileSystem& files, const std::string& path) {
    Logf("%s was cut short as its run began, before that run changed anything: removing it.",
         path.c_str());
    std::string error;
    if (files.Remove(path) != 0 || !files.FlushFolder(GetFolder(path), error)) {
        Alertf("Couldn't remove %s: %s. Nothing was changed; remove it and run again.",
               path.c_str(), error.empty() ? strerror(errno) : error.c_str());
        return false;
    }
    return true;
}

std::string DescribeJournalOptions(const JournalOptions& options) {
    std::string text = "-i";
    if (options.removeUnrefed) {
        text += " -u";
    }
    if (!options.remapVobIds) {
        text += " -v";
    }
    if (options.resetIlvu) {
        text += " -a";
    }
    if (!options.fixPgcLbas) {
        text += " --no-fix-pgc-lbas";
    }
    return text;
}

std::string HalfCleanedMessage(const std::string& setName, const std::string& path,
                               const JournalSummary& journal) {
    switch (journal.state) {
        case JournalState::NotAFile:
            return path +
                   " is in the way: an in-place run keeps its journal under that name, and this "
                   "is not a file. Move it away and run again.";
        case JournalState::Unreadable:
            return path + " is the journal of an interrupted in-place run of " + setName +
                   ", but it cannot be used (" + journal.error +
                   "). The title set's files may be half cleaned: make the journal readable "
                   "and run again, or restore the title set from your source and remove it.";
        default:
            return setName + " is half cleaned: an in-place run (options " +
                   DescribeJournalOptions(journal.options) + ") was interrupted, and " +
                   GetFileName(path) +
                   " holds what is left to do. To finish it, run that clean again with the "
                   "same options.";
    }
}

}  // namespace dorvex
