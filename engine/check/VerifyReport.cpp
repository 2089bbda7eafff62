#include "engine/check/VerifyReport.h"

namespace dorvex {

int64_t VerifyGroup::Total() const {
    int64_t total = 0;
    for (const auto& [kind, count] : counts) {
        total += count;
    }
    return total;
}

void CVerifyReport::BeginGroup(const std::string& name) {
    m_Groups.push_back(VerifyGroup{});
    m_Groups.back().name = name;
}

void CVerifyReport::Add(VerifyFinding finding) {
    if (m_Groups.empty()) {
        BeginGroup("");
    }
    VerifyGroup& group = m_Groups.back();
    ++group.counts[finding.kind];
    if (finding.sector >= 0 && !finding.stream.empty() && finding.kind != finding::kBlankPack &&
        finding.kind != finding::kNotAPack) {
        group.markedSectors[finding.stream].push_back(finding.sector);
    }
    std::pair<std::string, std::string> key{finding.stream.empty() ? finding.file : finding.stream,
                                            finding.kind};
    int64_t& kept = group.kept[key];
    if (kept < kKeptPerKind) {
        ++kept;
        group.findings.push_back(std::move(finding));
    } else {
        ++group.omitted[key];
    }
}

void CVerifyReport::AddNote(VerifyFinding note) {
    if (m_Groups.empty()) {
        BeginGroup("");
    }
    m_Groups.back().notes.push_back(std::move(note));
}

void CVerifyReport::AddMap(map::DomainMap domain) {
    if (m_Groups.empty()) {
        BeginGroup("");
    }
    VerifyGroup& group = m_Groups.back();
    auto marked = group.markedSectors.find(domain.name);
    if (marked != group.markedSectors.end()) {
        domain.marks = map::MarksOf(std::move(marked->second));
        group.markedSectors.erase(marked);
    }
    group.maps.push_back(std::move(domain));
}

int64_t CVerifyReport::Total() const {
    int64_t total = 0;
    for (const VerifyGroup& group : m_Groups) {
        total += group.Total();
    }
    return total;
}

int64_t CVerifyReport::Count(const std::string& kind) const {
    int64_t total = 0;
    for (const VerifyGroup& group : m_Groups) {
        auto it = group.counts.find(kind);
        total += it == group.counts.end() ? 0 : it->second;
    }
    return total;
}

}  // namespace dorvex
