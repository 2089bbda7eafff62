#include "engine/check/VerifyFolder.h"

#include <vector>

#include "engine/check/VerifyIfo.h"
#include "engine/check/VerifyIlvu.h"
#include "engine/check/VerifyLibdvdread.h"
#include "engine/check/VerifyStream.h"
#include "engine/ilvu/IfoCells.h"
#include "engine/journal/JournalSummary.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

// Loads an IFO; on refusal adds the reason as a finding (when report is given) and returns
// false. The model's own log line about the refusal is not shown: the finding says it.
bool LoadChecked(CIfoFile& ifo, const std::string& path, CVerifyReport* report) {
    {
        CapturedLines quiet(CapturedLines::Log);
        ifo.Load(path);
    }
    if (ifo.m_bLoaded) {
        return true;
    }
    if (report != nullptr) {
        const std::string reason = ifo.LoadError().empty() ? "it cannot be read" : ifo.LoadError();
        report->Add({finding::kIfoDamaged, GetFileName(path), "", -1, -1,
                     GetFileName(path) + " is refused: " + reason});
    }
    return false;
}

std::string WithThousands(uint64_t value) {
    std::string digits = std::to_string(value);
    for (int64_t at = static_cast<int64_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return digits;
}

bool HoldsSectors(FileSystem& files, const std::string& path) {
    return files.SizeBytes(path) >= 2048;
}

// A domain without its VOB whose tables still describe content: one finding that names the
// file, instead of one for every cell, VOBU and time-map entry that cannot be found.
bool MissingVob(CIfoFile& ifo, bool menu, const std::string& vob, const std::string& label,
                CVerifyReport* report) {
    const uint32_t described = ifo.DescribedSectors(menu);
    if (described == 0) {
        return false;
    }
    if (report != nullptr) {
        report->Add({finding::kVobMissing, GetFileName(vob), label, -1, -1,
                     GetFileName(vob) + " is missing; the IFO describes " +
                         WithThousands(described) + " sectors"});
    }
    return true;
}

// Which domains of a title set lack the VOB their tables describe (reported when report is
// given).
MissingDomains FindMissingDomains(FileSystem& files, CIfoFile& ifo, const TitleSetFiles& set,
                                  const std::string& name, CVerifyReport* report) {
    MissingDomains missing;
    const std::string menu = set.Vob(kMenuVobPart);
    missing.menu =
        !HoldsSectors(files, menu) && MissingVob(ifo, true, menu, name + " menu", report);
    if (!set.IsVideoManager()) {
        missing.titles =
            set.TitleParts().empty() &&
            MissingVob(ifo, false, set.Vob(kFirstTitleVobPart), name + " titles", report);
    }
    return missing;
}

// A title set an in-place run was interrupted on: its files are half moved until that run is
// finished, and every other finding would only describe the move.
bool HalfCleaned(FileSystem& files, const TitleSetFiles& set, const std::string& name,
                 CVerifyReport& report) {
    bool found = false;
    for (bool menu : {false, true}) {
        const std::string path = set.Journal(menu);
        const JournalSummary journal = InspectJournal(files, path);
        if (journal.state == JournalState::Missing || journal.state == JournalState::Unstarted ||
            (menu && set.IsVideoManager())) {
            continue;
        }
        report.Add({finding::kHalfCleaned, GetFileName(path), "", -1, -1,
                    HalfCleanedMessage(name, path, journal)});
        found = true;
    }
    return found;
}

// Both domains of an IFO (the video manager's First-Play PGC and its menus), whether their VOBs
// are there or not: a run that reaches the domain refuses the IFO.
void VerifyIfoStructure(CIfoFile& ifo, CVerifyReport& report) {
    for (const bool menu : {false, true}) {
        VerifyPgcStructure(ifo, menu, report);
    }
}

// One domain: its stream scanned, then everything the IFO says about it.
void VerifyDomain(CIfoFile& ifo, bool menu, CVerifyStream& stream, CVerifyReport& report) {
    if (!stream.Scan(report)) {
        return;
    }
    VerifyVobuAdmap(ifo, menu, stream, report);
    VerifyCells(ifo, menu, stream, report);
    if (!menu) {
        VerifyTimeMaps(ifo, stream, report);
    }
    VerifyReferencedCells(ifo, menu, stream, report);
    stream.CheckNavPointers(report);
    if (!menu) {
        VerifyIlvuLayout(ifo, stream, report);
    }
    report.AddMap(stream.Map(ilvu::IfoCellsOf(ifo, menu), menu));
}

// The first title set that is missing while a later one is there, or that lacks a VOB its IFO
// describes: the files cannot place the title sets from there on.
int32_t FirstIncompleteTitleSet(FileSystem& files, const std::string& folder) {
    int32_t highest = 0;
    for (int32_t vts = 1; vts <= kLastTitleSet; ++vts) {
        if (files.Exists(TitleSetFiles::InFolder(files, folder, vts).Ifo())) {
            highest = vts;
        }
    }
    for (int32_t vts = 1; vts <= highest; ++vts) {
        const TitleSetFiles set = TitleSetFiles::InFolder(files, folder, vts);
        if (!files.Exists(set.Ifo())) {
            return vts;
        }
        CIfoFile ifo(set.Ifo(), files);
        if (!LoadChecked(ifo, set.Ifo(), nullptr)) {
            continue;
        }
        const MissingDomains missing =
            FindMissingDomains(files, ifo, set, TitleSetName(vts), nullptr);
        if (missing.menu || missing.titles) {
            return vts;
        }
    }
    return kLastTitleSet + 1;
}

void VerifyVideoManager(FileSystem& files, const std::string& folder, CVerifyReport& report) {
    report.BeginGroup(TitleSetName(kVideoManager));
    const TitleSetFiles manager = TitleSetFiles::InFolder(files, folder, kVideoManager);
    if (HalfCleaned(files, manager, TitleSetName(kVideoManager), report)) {
        return;
    }
    const std::string path = manager.Ifo();
    if (!files.Exists(path)) {
        report.Add({finding::kIfoDamaged, GetFileName(path), "", -1, -1,
                    GetFileName(path) + " is missing"});
        return;
    }
    CIfoFile vmg(path, files);
    if (!LoadChecked(vmg, path, &report)) {
        return;
    }
    VerifyLibdvdreadOpen(vmg, report);
    VerifyBackupIfo(files, path, report);
    VerifyIfoStructure(vmg, report);
    VmgContext context;
    context.menuMissing = FindMissingDomains(files, vmg, manager, "VIDEO_TS", &report).menu;
    context.firstIncompleteTitleSet = FirstIncompleteTitleSet(files, folder);
    VerifyVmgSizes(vmg, files, folder, context, report);
    const std::string menu = manager.Vob(kMenuVobPart);
    if (HoldsSectors(files, menu)) {
        CVerifyStream stream(files, "VIDEO_TS menu", {menu});
        VerifyDomain(vmg, true, stream, report);
    }
}

void VerifyTitleSet(FileSystem& files, const TitleSetFiles& set, const std::string& name,
                    CVerifyReport& report) {
    report.BeginGroup(name);
    if (HalfCleaned(files, set, name, report)) {
        return;
    }
    const std::string path = set.Ifo();
    CIfoFile ifo(path, files);
    if (!LoadChecked(ifo, path, &report)) {
        return;
    }
    VerifyLibdvdreadOpen(ifo, report);
    VerifyBackupIfo(files, path, report);
    VerifyIfoStructure(ifo, report);
    const MissingDomains missing = FindMissingDomains(files, ifo, set, name, &report);
    VerifyVtsSizes(ifo, files, set, missing, report);

    std::vector<std::string> titles;
    int32_t expected = kFirstTitleVobPart;
    for (const VobPart& part : set.TitleParts()) {
        if (part.number != expected) {
            report.Add({finding::kVobNumbering, GetFileName(part.path), "", -1, -1,
                        "VOB files are not numbered without gaps: " + GetFileName(part.path) +
                            " follows a missing file"});
        }
        expected = part.number + 1;
        titles.push_back(part.path);
    }

    const std::string menu = set.Vob(kMenuVobPart);
    if (HoldsSectors(files, menu)) {
        CVerifyStream stream(files, name + " menu", {menu});
        VerifyDomain(ifo, true, stream, report);
    }
    if (!missing.titles) {
        CVerifyStream stream(files, name + " titles", titles);
        stream.SetNameWithoutFiles(GetFileName(set.Vob(kFirstTitleVobPart)));
        VerifyDomain(ifo, false, stream, report);
    }
}

}  // namespace

CVerifyReport VerifyFolder(const std::string& folder, FileSystem& files) {
    std::string base = folder;
    if (!base.empty() && !IsPathSeparator(base.back())) {
        base += kPathSeparator;
    }
    CVerifyReport report;
    VerifyVideoManager(files, base, report);
    for (int32_t vts = 1; vts <= kLastTitleSet; ++vts) {
        const TitleSetFiles set = TitleSetFiles::InFolder(files, base, vts);
        if (files.Exists(set.Ifo())) {
            VerifyTitleSet(files, set, TitleSetName(vts), report);
        }
    }
    return report;
}

}  // namespace dorvex
