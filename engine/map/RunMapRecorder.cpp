#include "engine/map/RunMapRecorder.h"

#include <algorithm>

#include "engine/VtsCleaner.h"
#include "engine/ilvu/IfoCells.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex::map {

namespace {

std::vector<FileSpan> FilesOf(const std::vector<VobPart>& parts) {
    std::vector<FileSpan> files;
    for (const VobPart& part : parts) {
        files.push_back({GetFileName(part.path), part.firstSector, part.sectors});
    }
    return files;
}

constexpr size_t kBlankRunsReserved = 4096;

}  // namespace

void CRunMapRecorder::BeginPass(const CVtsCleaner& run) {
    DomainMap domain;
    domain.menu = run.m_Menu != 0;
    const int32_t titleSet = std::max(kVideoManager, TitleSetOf(run.VobPathSnapshot()));
    domain.name = TitleSetName(titleSet) + (domain.menu ? " menu" : " titles");
    domain.files = FilesOf(run.SetFiles().Parts(domain.menu));
    // Room for the runs of a badly damaged stream before the pass, so that recording a blank
    // pack does not allocate in the pass of a real run.
    domain.blank.reserve(kBlankRunsReserved);
    m_Domains.push_back(std::move(domain));
    m_IfoCells = {};
    m_IfoCellsRead = false;
}

void CRunMapRecorder::OnNewVcid(const CVtsCleaner& run, CIfoFile& ifo) {
    if (m_Domains.empty()) {
        return;
    }
    if (!m_IfoCellsRead) {
        m_IfoCells = ilvu::IfoCellsOf(ifo, run.m_Menu != 0);
        m_IfoCellsRead = true;
    }
    StartCellRun(m_Domains.back(), run.m_VobId, run.m_CellId, run.m_ReadTotal.load());
}

void CRunMapRecorder::OnBlankPack(const CVtsCleaner& run) {
    if (!m_Domains.empty()) {
        AppendRun(m_Domains.back().blank, run.m_ReadTotal.load());
    }
}

void CRunMapRecorder::EndPass(const CVtsCleaner& run) {
    if (m_Domains.empty()) {
        return;
    }
    DomainMap& domain = m_Domains.back();
    domain.sectors = run.m_ReadTotal.load();
    FinishCells(domain);
    ClassifyCells(domain, m_IfoCells);
    domain.planned = true;
    for (int32_t i = 0; i < run.m_Removed.RunCount(); ++i) {
        const RemovedRun removed = run.m_Removed.RunAt(i);
        AppendRun(domain.removed, removed.first, removed.count);
    }
    domain.sectorsAfter = run.m_WrittenTotal;
    domain.filesAfter = FilesOf(run.SetFiles().Parts(domain.menu));
}

std::vector<TitleSetMap> GroupByTitleSet(const std::vector<DomainMap>& domains) {
    std::vector<TitleSetMap> sets;
    for (const DomainMap& domain : domains) {
        const std::string name = domain.name.substr(0, domain.name.find(' '));
        auto set = std::find_if(sets.begin(), sets.end(),
                                [&](const TitleSetMap& s) { return s.name == name; });
        if (set == sets.end()) {
            sets.push_back({name, {}});
            set = sets.end() - 1;
        }
        set->domains.push_back(domain);
    }
    return sets;
}

}  // namespace dorvex::map
