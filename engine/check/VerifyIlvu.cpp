#include "engine/check/VerifyIlvu.h"

#include <string>
#include <vector>

#include "engine/ilvu/IfoCells.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"

namespace dorvex {

void VerifyIlvuLayout(CIfoFile& ifo, const CVerifyStream& stream, CVerifyReport& report) {
    ilvu::Layout layout;
    layout.navpacks = stream.IlvuNavpacks();
    layout.sectors = static_cast<uint32_t>(stream.Sectors());
    std::vector<std::string> problems;
    ilvu::ReadIfoCells(ifo, false, layout, problems);
    const uint32_t firstNav = layout.navpacks.empty() ? 0 : layout.navpacks.front().sector;
    for (const std::string& problem : problems) {
        stream.Report(report, finding::kCellPieces, firstNav, problem);
    }
    // A plain cell's entry and sectors are the cell checks' (VerifyIfo.h); a cell without any
    // entry is their finding too.
    for (const ilvu::CellId& cell : layout.interleaved) {
        auto entries = layout.addressTable.find(cell);
        if (layout.played.count(cell) == 0 || entries == layout.addressTable.end()) {
            continue;
        }
        const std::string fault = ilvu::AddressTableFault(layout, cell);
        if (!fault.empty()) {
            stream.Report(report, finding::kCellPieces, entries->second.front().first,
                          "cell " + ilvu::Name(cell) + ": cell address table: " + fault);
        }
    }
    for (const ilvu::CellSectorProblem& problem : ilvu::CellSectorProblems(ifo, false, layout)) {
        stream.Report(report, finding::kCellPieces, problem.sector, problem.message);
    }
    for (const ilvu::Mismatch& mismatch : ilvu::CompareFields(layout)) {
        stream.Report(report, finding::kIlvuField, mismatch.sector, ilvu::Describe(mismatch));
    }
}

}  // namespace dorvex
