// The checker's map of a stream it has read: nothing is read again, the class of every pack and
// the navpacks' VOB/cell IDs are what Scan kept.
#include "engine/check/VerifyStream.h"

namespace dorvex {

map::DomainMap CVerifyStream::Map(const ilvu::Layout& ifoCells, bool menu) const {
    map::DomainMap domain;
    domain.name = m_Label;
    domain.menu = menu;
    domain.sectors = Sectors();
    for (size_t i = 0; i < m_Files.size(); ++i) {
        const int64_t end = i + 1 < m_Files.size() ? m_Files[i + 1].first : Sectors();
        domain.files.push_back({m_Files[i].name, m_Files[i].first, end - m_Files[i].first});
    }
    for (size_t nav = 0; nav < m_NavSectors.size(); ++nav) {
        const int32_t index = static_cast<int32_t>(nav);
        // The packs before a stream's first navpack go with its first cell.
        map::StartCellRun(domain, NavVobId(index), NavCellId(index),
                          nav == 0 ? 0 : int64_t{m_NavSectors[nav]});
    }
    map::FinishCells(domain);
    map::ClassifyCells(domain, ifoCells);
    AddPackRuns(domain);
    return domain;
}

}  // namespace dorvex
