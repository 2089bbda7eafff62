// What the in-place journal holds, record by record, and how each record is laid out. The
// journal itself (JournalFile.h) frames and stores the records; PassJournal.h decides when each
// is written and what it carries.
//
// A journal is a header, then records in the order the run wrote them:
//   Checkpoint    where the pass may go on from: its snapshot, the table entries added since the
//                 last record, the size of every VOB part, the packs a finishing run checks, and
//                 when the pass goes on from after the batch about to be written (rather than
//                 making it again from the input): the batch's packs from memory by their bytes,
//                 and the packs it moves down within their file by source and fingerprint;
//                 and whether every write before it was on disk when it was written (settled):
//                 if not, what the records since the last settled one hold is made again too;
//   Cut           the same, at the end of a part, before the part is cut to its new length;
//   PassDone      the same once every pack is read and on disk;
//   PointerBatch  navpacks whose relative pointers follow the removals, by their bytes, about to
//                 be written, and the navpack the rewrite goes on from after them;
//   IfoRepair     the VOB files are final: what is left is the IFO repair.
// Parts are named by their index in the header. All integers are little-endian; sizes and
// counts are 32 bits unless stated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/PassModel.h"
#include "support/FileSystem.h"

namespace dorvex {

inline constexpr char kJournalMagic[8] = {'D', 'O', 'R', 'V', 'E', 'X', 'J', 'L'};
inline constexpr uint32_t kJournalVersion = 4;

enum class JournalRecordKind : uint8_t {
    Checkpoint = 1,
    Cut = 2,
    PassDone = 3,
    PointerBatch = 4,
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

// A VOB file of the stream as the run found it.
struct JournalPart {
    std::string name;  // as named on disk
    int64_t size = 0;  // bytes
    FileIdentity identity;
};

// Written once, before the run changes anything.
struct JournalHeader {
    JournalOptions options;
    uint8_t menu = 0;
    std::string vobName;  // the step's first VOB, as named on disk
    uint32_t totalSectors = 0;
    std::vector<JournalPart> parts;
    // The system's boot ID when the run began.
    std::string bootId;
    std::string ifoName;
    std::vector<uint8_t> ifo;  // the title set's IFO as the run found it
};

// A pack a finishing run checks before it changes anything: what the run left there, or the
// input it had not read yet.
struct PackCheck {
    uint8_t part = 0;
    int64_t sector = 0;
    uint64_t fingerprint = 0;
};

// Packs a record writes by their bytes: to be encoded, where they lie in memory ...
struct PiecesToRecord {
    uint8_t part = 0;
    int64_t sector = 0;
    int64_t packs = 0;
    const uint8_t* bytes = nullptr;
};
// ... and decoded.
struct RecordedPieces {
    uint8_t part = 0;
    int64_t sector = 0;
    std::vector<uint8_t> bytes;

    int64_t Packs() const;
};

// Packs a record moves down within their part, unchanged: from `from` on to `sector` on, with
// each pack's fingerprint (CheckedFingerprint), so that a finishing run can tell, pack by pack,
// whether the move reached the disk, is still to make, or lost its source. To be encoded ...
struct MoveToRecord {
    uint8_t part = 0;
    int64_t sector = 0;
    int64_t from = 0;
    int64_t packs = 0;
    const uint64_t* fingerprints = nullptr;
};
// ... and decoded.
struct RecordedMove {
    uint8_t part = 0;
    int64_t sector = 0;
    int64_t from = 0;
    std::vector<uint64_t> fingerprints;

    int64_t Packs() const { return static_cast<int64_t>(fingerprints.size()); }
};

// What a checkpoint, cut or pass end says besides the pass's snapshot.
struct PartsState {
    std::vector<int64_t> sizes;  // bytes, per part
    std::vector<PackCheck> checks;
};

// One record, decoded.
struct JournalRecord {
    JournalRecordKind kind = JournalRecordKind::Checkpoint;
    PassSnapshot at;                     // Checkpoint, Cut, PassDone
    PartsState files;                    // Checkpoint, Cut, PassDone
    std::vector<RecordedPieces> pieces;  // Checkpoint, PointerBatch
    std::vector<RecordedMove> moves;     // Checkpoint
    bool settled = true;                 // Checkpoint (the others always are)
    uint8_t cutPart = 0;                 // Cut
    int64_t cutSectors = 0;              // Cut
    int32_t nextPointerNav = 0;          // PointerBatch

    bool IsPassRecord() const {
        return kind == JournalRecordKind::Checkpoint || kind == JournalRecordKind::Cut ||
               kind == JournalRecordKind::PassDone;
    }
};

// How far the records written so far carried each table.
struct JournalCursor {
    int32_t nav = 0;
    int32_t map = 0;
    int32_t cells = 0;
    int32_t removedRuns = 0;
};

// A pass record (Checkpoint, Cut or PassDone): the snapshot, the table entries past `sent` up to
// the snapshot's extent (advancing `sent`), the files' state, then for a Checkpoint its pieces
// and moves and for a Cut the part and its new length.
struct PassRecordToEncode {
    JournalRecordKind kind = JournalRecordKind::Checkpoint;
    const PassSnapshot* at = nullptr;
    const PartsState* files = nullptr;
    const std::vector<PiecesToRecord>* pieces = nullptr;
    const std::vector<MoveToRecord>* moves = nullptr;
    bool settled = true;
    uint8_t cutPart = 0;
    int64_t cutSectors = 0;
};
void EncodePassRecord(std::vector<uint8_t>& out, const PassRecordToEncode& record,
                      const PassTables& tables, JournalCursor& sent);
void EncodePointerBatch(std::vector<uint8_t>& out, int32_t nextNav,
                        const std::vector<PiecesToRecord>& pieces);
void EncodeIfoRecord(std::vector<uint8_t>& out);

std::vector<uint8_t> EncodeJournalHeader(const JournalHeader& header);
bool DecodeJournalHeader(const std::vector<uint8_t>& bytes, JournalHeader& header);

// Pass records carry the table entries from the indexes the previous record stopped at; the
// decoder applies them to `tables` as it goes, so that the last record leaves the whole tables.
// Everything a record names is bounded by the header: parts it lists, sectors inside them,
// tables no larger than the stream; anything else makes the record damaged (false).
bool DecodeJournalRecord(const std::vector<uint8_t>& bytes, const JournalHeader& header,
                         JournalRecord& record, PassTables& tables);

}  // namespace dorvex
