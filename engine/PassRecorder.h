// What the pass tells whoever records it (an in-place run's journal): where it stands before
// each pack, when a phase ends, which navpack a relative-pointer rewrite is for; and, as the
// write observer of the pass's files, every change before it is made. A call that returns false
// has alerted why; the engine then stops the run as failed.
#pragma once

#include <cstdint>

#include "engine/VobIo.h"

namespace dorvex {

class PassRecorder : public VobWriteObserver {
  public:
    // The pass as it stands now, before the next input pack: changes made while that pack is
    // handled are recorded with it.
    virtual void PackStarts() = 0;
    // Every pack is read and on disk.
    virtual bool PassDone() = 0;
    // The VOB files are final: what is left is the IFO repair.
    virtual bool RepairBegins() = 0;
    // Navpacks whose relative pointers follow the removals, about to be written to `file`; the
    // rewrite goes on from navpack nextNav after them.
    virtual bool PointerBatch(CVobFile& file, const PendingVobWrite& write, int32_t nextNav) = 0;
};

// While a run is recorded, the recorder hears of the pass and of every change to its files.
class RecordingScope {
  public:
    RecordingScope(PassRecorder*& slot, CVobFile& passFile, PassRecorder* recorder)
        : m_Slot(slot), m_PassFile(passFile) {
        m_Slot = recorder;
        m_PassFile.SetWriteObserver(recorder);
    }
    ~RecordingScope() {
        m_Slot = nullptr;
        m_PassFile.SetWriteObserver(nullptr);
    }
    RecordingScope(const RecordingScope&) = delete;
    RecordingScope& operator=(const RecordingScope&) = delete;

  private:
    PassRecorder*& m_Slot;
    CVobFile& m_PassFile;
};

}  // namespace dorvex
