// What the in-place journal holds, record by record, and how each record is laid out. The
// journal itself (JournalFile.h) frames and stores the records; PassJournal.h decides when each
// is written and what it carries.
//
// A journal is a header, then records in the order the run wrote them:
//   PassWrite     the pass state as it stood before the current pack, the table entries added
//                 since the last record, and the write about to be issued (literal packs, then
//                 packs copied unchanged from further on in the same file, with the fingerprint
//                 of each copied pack whose source the write itself may overwrite);
//   PassTruncate  the same state and tables, and the cut about to be made to a finished file;
//   PassDone      the state and tables once every pack is read and on disk;
//   PointerWrite  a navpack whose relative pointers follow the removals, about to be written;
//   IfoRepair     the VOB files are final: what is left is the IFO repair.
// All integers are little-endian; sizes and counts are 32 bits unless stated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/PassModel.h"

namespace dorvex {

inline constexpr char kJournalMagic[8] = {'D', 'O', 'R', 'V', 'E', 'X', 'J', 'L'};
inline constexpr uint32_t kJournalVersion = 2;

enum class JournalRecordKind : uint8_t {
    PassWrite = 1,
    PassTruncate = 2,
    PassDone = 3,
    PointerWrite = 4,
    IfoRepair = 5,
};

// The options that decide what a run writes: a finishing run must use the same ones.
struct JournalOptions {
    uint8_t removeUnrefed = 0;
    uint8_t remapVobIds = 1;
    uint8_t resetIlvu = 0;
    uint8_t fixPgcLbas = 1;

    bool operator==(const JournalOptions&) const = default;
};

// Written once, before the run changes anything.
struct JournalHeader {
    JournalOptions options;
    uint8_t menu = 0;
    std::string vobName;  // the step's first VOB, as named on disk
    uint32_t totalSectors = 0;
    // The stream's files and their sizes in bytes when the run began.
    std::vector<std::string> partNames;
    std::vector<int64_t> partSizes;
    // The system's boot ID: another one at the finish means the machine went down meanwhile.
    std::string bootId;
    std::string ifoName;
    std::vector<uint8_t> ifo;  // the title set's IFO as the run found it
};

// A write to one VOB file as a record describes it.
struct RecordedWrite {
    std::string file;  // base name, in the journal's folder
    int64_t sector = 0;
    std::vector<uint8_t> literal;  // whole packs, written first
    int64_t copiedPacks = 0;       // then packs copied from copiedFrom on, in the same file
    int64_t copiedFrom = 0;
    // One per copied pack from the first on, as far as the write may overwrite their sources.
    std::vector<uint64_t> fingerprints;

    int64_t LiteralPacks() const;
};

// One record, decoded.
struct JournalRecord {
    JournalRecordKind kind = JournalRecordKind::PassWrite;
    PassSnapshot at;              // pass records: the pass as it stood before the pack in hand
    RecordedWrite write;          // PassWrite, PointerWrite
    int64_t truncateSectors = 0;  // PassTruncate (write.file names the file)
    int32_t pointerNav = 0;       // PointerWrite: the navpack's index
};

// How far the records written so far carried each table.
struct JournalCursor {
    int32_t nav = 0;
    int32_t map = 0;
    int32_t cells = 0;
    int32_t removedRuns = 0;
};

// A write about to be issued, as the record encodes it: the copied packs' bytes are where the
// write takes them from, so that their fingerprints can be taken.
struct WriteToRecord {
    const std::string* file = nullptr;
    int64_t sector = 0;
    const uint8_t* literal = nullptr;
    int64_t literalPacks = 0;
    const uint8_t* copied = nullptr;
    int64_t copiedPacks = 0;
    int64_t copiedFrom = 0;  // -1: copied from another file, kept as literal packs
};

// Appends a pass record (PassWrite, PassTruncate or PassDone) without its write or cut: the
// snapshot, then the table entries past `sent` up to the snapshot's extent; advances `sent`.
void EncodePassRecord(std::vector<uint8_t>& out, JournalRecordKind kind, const PassSnapshot& at,
                      const PassTables& tables, JournalCursor& sent);
void EncodeWrite(std::vector<uint8_t>& out, const WriteToRecord& write);
void EncodeTruncate(std::vector<uint8_t>& out, const std::string& file, int64_t sectors);
void EncodePointerRecord(std::vector<uint8_t>& out, int32_t nav, const WriteToRecord& write);
void EncodeIfoRecord(std::vector<uint8_t>& out);

std::vector<uint8_t> EncodeJournalHeader(const JournalHeader& header);
bool DecodeJournalHeader(const std::vector<uint8_t>& bytes, JournalHeader& header);

// Pass records carry the table entries from the indexes the previous record stopped at; the
// decoder applies them to `tables` as it goes, so that the last record leaves the whole tables.
bool DecodeJournalRecord(const std::vector<uint8_t>& bytes, JournalRecord& record,
                         PassTables& tables);

}  // namespace dorvex
