// The journal of one in-place run: an in-place run stopped at any moment (killed, Ctrl-C, a
// failed write, a crash, a power cut) is finished later by running it again, byte for byte as if
// it had never stopped, or refused with nothing changed when the files are no longer the ones it
// describes.
//
// The order of writes. The pass writes each kept pack at or before the sector it was read from,
// in the same file, so a file being compacted is a finished prefix, then packs whose input was
// already read, then untouched input from the read position on. A write that reaches the disk
// destroys the input it lands on; a power cut keeps any subset of the writes since the last
// flush, in any order, page by page, a cut or a rename included. So:
//   - The journal holds checkpoints: where the pass can go on from (its snapshot and tables).
//     A batch of writes that reaches past the last checkpoint's read position waits until a new
//     checkpoint is appended and flushed; only then is it issued. The input from a checkpoint's
//     read position on is never written before that.
//   - When the gap between reads and writes is as large as the batch, the checkpoint is the
//     pass as it stood when the batch began: going on from it makes the batch's packs again
//     from input that is still there (a batch that begins with enough gap is cut to it).
//   - When it is not (a few packs removed so far in this file, every later one moving down a
//     little), the checkpoint is the pass as it stands after the batch, and holds the batch:
//     packs from memory by their bytes, packs moved down by source and fingerprint. Such a
//     batch is long (up to 64 MiB, one record and one journal flush for all of it) and
//     overwrites its own sources as it goes, in ascending order.
//   - The VOB file is flushed (settled) only every 256 MiB, at a new part and before a cut;
//     every record since the last settled one is made again by a finishing run, in order: a
//     move whose destination holds its pack is done, one whose source still does is made, and
//     one that holds neither was lost (the disk kept a later write over its source and not the
//     move itself). A killed process cannot lose one (the page cache keeps every write, in
//     order); a power cut can, in a batch that overwrote its own sources: the finishing run
//     then refuses before changing anything and says which packs. Flushing a few packs at a
//     time instead, or writing every moved pack to the journal first, would make that
//     impossible at two to three times the run's time (measured on the benchmark).
//   - A part is cut only after a settled checkpoint at its end is on disk; the files are
//     renamed only after the pass's end is; each batch of relative-pointer rewrites (which must
//     not shift a pointer twice) is recorded by its bytes and flushed before it is written, and
//     flushed before the next; the IFO repair starts over from the IFO as the run found it,
//     which the header holds; the journal goes last.
// A killed process loses nothing it wrote, a special case of the above. The finishing run first
// checks that the files are what the last checkpoint says (JournalCheck.h), then goes on from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/PassModel.h"
#include "engine/PassRecorder.h"
#include "engine/journal/JournalFile.h"
#include "engine/journal/JournalRecords.h"

namespace dorvex {

// What an interrupted run's journal says is left to do.
struct InterruptedRun {
    enum class Stage : uint8_t {
        PassNotBegun,  // nothing was written yet: the pass starts from its first pack
        InPass,        // the pass goes on from the last pass record's snapshot
        PassDone,      // tidying, relative pointers from nextPointerNav on, the IFO repair
        IfoRepair,     // the IFO repair alone
    };
    JournalHeader header;
    Stage stage = Stage::PassNotBegun;
    bool hasPassRecord = false;
    JournalRecord lastPass;  // the last Checkpoint, Cut or PassDone
    PassTables tables;
    int32_t nextPointerNav = 0;
    // Packs to write again before going on: the last checkpoint's or pointer batch's, by their
    // bytes, and the checkpoint's moves.
    std::vector<RecordedPieces> redo;
    std::vector<RecordedMove> redoMoves;

    bool Renamed() const { return stage == Stage::PassDone || stage == Stage::IfoRepair; }
};

class PassJournal final : public PassRecorder {
  public:
    PassJournal(FileSystem& files, const PassModel& model) : m_Files(files), m_Model(model) {}

    // Makes the journal with its header before the run changes anything (on disk, with its
    // folder). False with the reason in LastError().
    bool Create(const std::string& path, const JournalHeader& header);
    // Reads an interrupted run's journal into `run` and opens it for appending after its last
    // whole record. False with the reason in LastError(): a journal this version cannot read,
    // damaged or forged records, a header that does not name this title set's files.
    bool Resume(const std::string& path, InterruptedRun& run);
    const std::string& LastError() const { return m_File.LastError(); }
    const std::string& Path() const { return m_File.Path(); }

    void PackStarts() override { m_PackStart = m_Model.Snapshot(); }
    BatchPlan BatchStarts(CVobFile& file, int64_t sector) override;
    bool BeforeVobWrite(CVobFile& file, const PendingVobWrite& write) override;
    bool BeforeVobTruncate(CVobFile& file, int64_t sectors) override;
    bool PassDone() override;
    bool RepairBegins() override;
    bool PointerBatch(CVobFile& file, const PendingVobWrite& write, int32_t nextNav) override;

    // The run is over: a journal whose run did everything, or stopped before its first change,
    // is removed (flushed); otherwise it is closed and kept for the run that finishes it.
    struct Ending {
        bool left = false;    // the journal is still there: running the command again finishes
        bool failed = false;  // it should have gone but could not be removed (alerted)
    };
    Ending End(bool interrupted);

  private:
    // The header's index of a file of the stream, or -1.
    int32_t PartOf(const std::string& path) const;
    std::string PartPathNow(int32_t part) const;
    // Everything written to `file` so far on disk, so that records before the next one are no
    // longer needed; `lowest` is the sector below which `part` is now finished on disk.
    bool Settle(CVobFile& file, int32_t part, int64_t lowest);
    // `record` appended and on disk, before the writes it describes are made.
    bool Record(const PassRecordToEncode& record);
    PartsState FilesNow(int32_t part, const PassSnapshot& at, int64_t lowest);
    void AddCheck(PartsState& state, int32_t part, int64_t sector);
    // The batch as a record holds it: packs from memory by their bytes, packs moved down within
    // the file by source and fingerprint.
    bool PiecesOf(CVobFile& file, int32_t part, const PendingVobWrite& write);
    bool FingerprintMoved(CVobFile& file, const WritePiece& piece);
    bool Append();
    // A journal grown large is replaced by its header and one record holding the whole tables.
    bool AppendOrReplace(const PassRecordToEncode& record);

    FileSystem& m_Files;
    const PassModel& m_Model;
    JournalFile m_File{m_Files};
    JournalHeader m_Header;
    std::vector<uint8_t> m_HeaderBytes;
    // The pass as it stood before the pack being handled, and when the waiting batch began.
    PassSnapshot m_PackStart;
    PassSnapshot m_BatchStart;
    int32_t m_BatchPart = -1;
    // Writes to this part below this sector need no new checkpoint: the last one's read position.
    int32_t m_LimitPart = -1;
    int64_t m_Limit = 0;
    // The last pack the run wrote from memory, checked once it is on disk.
    int32_t m_LastWrittenPart = -1;
    int64_t m_LastWrittenSector = 0;
    uint64_t m_LastWrittenFingerprint = 0;
    // The part last flushed to disk, and below which sector it was finished then; packs
    // written since.
    int32_t m_SettledPart = -1;
    int64_t m_SettledEnd = 0;
    int64_t m_UnsettledPacks = 0;
    JournalCursor m_Sent;
    std::vector<uint8_t> m_Record;  // reused for every record
    std::vector<PiecesToRecord> m_Pieces;
    std::vector<std::string> m_CheckPaths;  // the parts' paths while a record is made
    std::vector<MoveToRecord> m_Moves;
    std::vector<uint64_t> m_MoveFingerprints;   // those the batch did not take as it read
    std::vector<int64_t> m_MoveFingerprintsAt;  // per move, its first there; -1 for none
    std::vector<uint8_t> m_CopiedBytes;  // packs a batch copies in the kernel, to fingerprint
    // What the last pass record said, for replacing the journal.
    PassSnapshot m_LastPassAt;
    PartsState m_LastPassFiles;
    JournalRecordKind m_LastPassKind = JournalRecordKind::Checkpoint;
};

// Empty when the files are what the interrupted run left (JournalCheck.h); else what was found.
std::string CheckInterruptedRunFiles(FileSystem& files, const std::string& folder,
                                     const InterruptedRun& run);

// Makes again the cuts the last record announced that the disk did not keep, then writes again,
// by their bytes, the packs it holds.
bool RedoLastChange(FileSystem& files, const std::string& folder, const InterruptedRun& run,
                    std::string& error);

}  // namespace dorvex
