// The journal of one in-place run: an in-place run stopped at any moment (killed, Ctrl-C, a
// failed write, a crash) is finished later by running it again, byte for byte as if it had never
// stopped.
//
// What holds at every moment. The pass writes each kept pack at or before the sector it was
// read from, in the same file, so a file being compacted is a finished prefix, then packs whose
// input was already read, then untouched input from the read position on. Every change to a VOB
// file (a write of the write-behind buffer, packs copied down from further on, a cut, a navpack
// whose relative pointers follow the removals) is preceded by a journal record, appended whole
// in one write before the change is issued, holding:
//   - what the change puts where: literal packs by their bytes, copied packs by their source
//     sector and, where the change itself may overwrite that source, by a fingerprint;
//   - the pass as it stood before the input pack being handled (PackStarts), with every table
//     entry added since the previous record.
// A change issued while input pack r is handled writes below r's output sector, or r's own
// output when that lies below r; never pack r or anything after it, because a full buffer goes
// out before the next pack joins it, not with it. So when a run stops, every change before the
// last record's is complete, the last one is complete, partial or not begun, and the input from
// pack r on is untouched. Finishing does the last change again (literal packs written; each
// copied pack taken from where its fingerprint finds it: already in place, or still at its
// source, which a write going up the file reaches only after the pack's destination), restores
// the model, and goes on from pack r, doing again what handling r had begun: the same pack
// copied to the same place, the same forward pointer set to the same value.
// After the pass the journal records its end; renaming the files in order is safe to repeat,
// each navpack's relative-pointer rewrite (which must not shift a pointer twice) is recorded
// before it is written, and the IFO repair starts over from the IFO as the run found it, which
// the journal holds. The journal goes only once everything is on disk.
//
// What is flushed when. A killed process loses nothing it wrote: the kernel keeps its writes,
// in order. A power cut loses what the kernel had not yet written, in any order. So the journal
// is flushed with its folder before the first change; at the end of the pass the VOB files and
// then the journal are flushed, and again before the IFO repair; the repaired IFOs replace the
// old ones whole and flushed; the journal is removed last (docs/reliability.md).
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
        PassNotBegun,  // the pass changed nothing on disk yet: it starts from its first pack
        InPass,        // the pass goes on from `at`
        PassDone,      // tidying, relative pointers from nextPointerNav on, the IFO repair
        IfoRepair,     // the IFO repair alone
    };
    JournalHeader header;
    Stage stage = Stage::PassNotBegun;
    PassSnapshot at;
    PassTables tables;
    int32_t nextPointerNav = 0;
    bool hasRecord = false;
    JournalRecord last;  // the change that may have been cut short
};

class PassJournal final : public PassRecorder {
  public:
    PassJournal(FileSystem& files, const PassModel& model) : m_Files(files), m_Model(model) {}

    // Makes the journal with its header before the run changes anything (on disk, with its
    // folder). False with the reason in LastError().
    bool Create(const std::string& path, const JournalHeader& header);
    // Reads an interrupted run's journal into `run` and opens it for appending after its last
    // whole record. False with the reason in LastError().
    bool Resume(const std::string& path, InterruptedRun& run);
    // Records written since the journal was made.
    int32_t Records() const { return m_Records; }
    const std::string& LastError() const { return m_File.LastError(); }
    const std::string& Path() const { return m_File.Path(); }

    void PackStarts() override { m_PackStart = m_Model.Snapshot(); }
    bool BeforeVobWrite(const CVobFile& file, const PendingVobWrite& write) override;
    bool BeforeVobTruncate(const CVobFile& file, int64_t sectors) override;
    bool PassDone() override;
    bool RepairBegins() override;
    void RewritingPointersOf(int32_t nav) override { m_PointerNav = nav; }

    // The run is over: a journal whose run did everything, or stopped before its first change,
    // is removed (flushed); otherwise it is closed and kept for the run that finishes it.
    struct Ending {
        bool left = false;    // the journal is still there: running the command again finishes
        bool failed = false;  // it should have gone but could not be removed (alerted)
    };
    Ending End(bool interrupted);

  private:
    bool Append();
    // Appends m_Record once everything written so far is on disk, and flushes it.
    bool AppendPhaseEnd();

    FileSystem& m_Files;
    const PassModel& m_Model;
    JournalFile m_File{m_Files};
    // The pass as it stood before the pack being handled: a write issued while handling it is
    // recorded with this, from which the pack is handled again.
    PassSnapshot m_PackStart;
    JournalCursor m_Sent;
    int32_t m_Records = 0;
    std::vector<uint8_t> m_Record;  // reused for every record
    // While a navpack's relative pointers are written: its index (PointerWrite records).
    int32_t m_PointerNav = -1;
};

// Does again the change the run's last record announced, whatever part of it reached the disk.
bool RedoLastChange(FileSystem& files, const std::string& folder, const InterruptedRun& run,
                    std::string& error);

}  // namespace dorvex
