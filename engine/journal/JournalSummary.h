// What an in-place run's journal says about itself, read without opening it for writing: for
// the run that may finish it and for every command that must leave its title set alone.
#pragma once

#include <cstdint>
#include <string>

#include "engine/journal/JournalRecords.h"
#include "support/FileSystem.h"

namespace dorvex {

enum class JournalState : uint8_t {
    Missing,
    Unstarted,   // its run was stopped while making it, before changing anything
    NotAFile,    // something else stands under the journal's name
    Unreadable,  // cannot be read, or not a journal this version writes
    Readable,
};

struct JournalSummary {
    JournalState state = JournalState::Missing;
    JournalOptions options;  // when Readable
    std::string error;       // when Unreadable: why
};

JournalSummary InspectJournal(FileSystem& files, const std::string& path);

// A journal its run did not finish making holds no change: it goes (flushed), so the run starts
// afresh. False, alerted, when it cannot.
bool RemoveUnstartedJournal(FileSystem& files, const std::string& path);

// The options of a journal's run as the user gives them.
std::string DescribeJournalOptions(const JournalOptions& options);

// What stands in the way of any other work on setName while the journal at path exists, and
// what to do (a journal that is Missing or Unstarted stands in no one's way).
std::string HalfCleanedMessage(const std::string& setName, const std::string& path,
                               const JournalSummary& journal);

}  // namespace dorvex
