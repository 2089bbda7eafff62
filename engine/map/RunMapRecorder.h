// The map of what a run's own pass reads and removes, told by the engine's hooks: a dry run
// (engine/plan/DryRun.h) and the dialog's run record through it, one domain per VOB pass. It
// reads nothing of its own; what it keeps grows with the cells and runs of blank packs, not with
// the packs.
#pragma once

#include <vector>

#include "engine/ilvu/IlvuLayout.h"
#include "engine/map/DiscMap.h"

namespace dorvex {
class CIfoFile;
class CVtsCleaner;
}  // namespace dorvex

namespace dorvex::map {

class CRunMapRecorder {
  public:
    // Before the pass of a domain (ProcessVts), while its files are as the pass will read them.
    void BeginPass(const CVtsCleaner& run);
    void OnNewVcid(const CVtsCleaner& run, CIfoFile& ifo);
    void OnBlankPack(const CVtsCleaner& run);
    // After the pass (OnVobPassDone): the sizes, what was removed and the files left.
    void EndPass(const CVtsCleaner& run);

    const std::vector<DomainMap>& Domains() const { return m_Domains; }
    void Clear() { m_Domains.clear(); }

  private:
    std::vector<DomainMap> m_Domains;
    ilvu::Layout m_IfoCells;  // of the current domain, read at its first cell
    bool m_IfoCellsRead = false;
};

// The domains of a run grouped by title set, in the order they were met.
std::vector<TitleSetMap> GroupByTitleSet(const std::vector<DomainMap>& domains);

}  // namespace dorvex::map
