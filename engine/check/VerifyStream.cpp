#include "engine/check/VerifyStream.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "engine/Navpack.h"
#include "engine/PackInfo.h"
#include "engine/PackLayout.h"
#include "engine/VobIo.h"
#include "support/BigEndian.h"
#include "support/Paths.h"

namespace dorvex {

namespace {

// Pack classes: what a sync offset or a cell's sector may designate. Audio and sub-picture
// packs carry their stream number in the low bits.
constexpr uint8_t kClassOther = 0;
constexpr uint8_t kClassNav = 1;
constexpr uint8_t kClassBlank = 2;
constexpr uint8_t kClassNotAPack = 3;
constexpr uint8_t kClassAudio = 0x40;
constexpr uint8_t kClassSubpicture = 0x80;
constexpr uint8_t kClassStreamMask = 0x3F;

// A zero start code where the first packet belongs is what the cleaner calls a blank pack (it
// removes or stuffs exactly these); a sector without a pack header is not a pack at all.
uint8_t ClassOf(const uint8_t* pack) {
    const uint32_t code = ReadBE32(pack, pack::kFirstPacketCode);
    if (code == pack::kCodeBlank) {
        return kClassBlank;
    }
    if (ReadBE32(pack, pack::kPackStart) != pack::kCodePackStart) {
        return kClassNotAPack;
    }
    if (navpack::IsNavpack(pack)) {
        return kClassNav;
    }
    if (const int32_t audio = AudioStreamOf(pack); audio >= 0) {
        return static_cast<uint8_t>(kClassAudio | audio);
    }
    if (const int32_t subpicture = SubpictureStreamOf(pack); subpicture >= 0) {
        return static_cast<uint8_t>(kClassSubpicture | subpicture);
    }
    return kClassOther;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", value);
    return text;
}

}  // namespace

CVerifyStream::CVerifyStream(FileSystem& files, std::string label, std::vector<std::string> paths)
    : m_FileSystem(files), m_Label(std::move(label)) {
    for (std::string& path : paths) {
        File file;
        file.name = GetFileName(path);
        file.path = std::move(path);
        m_Files.push_back(std::move(file));
    }
}

const CVerifyStream::File& CVerifyStream::FileOf(int64_t sector) const {
    auto after = std::upper_bound(m_Files.begin(), m_Files.end(), sector,
                                  [](int64_t s, const File& f) { return s < f.first; });
    return after == m_Files.begin() ? m_Files.front() : *(after - 1);
}

void CVerifyStream::Report(CVerifyReport& report, const char* kind, int64_t sector,
                           const std::string& message) const {
    VerifyFinding finding;
    finding.kind = kind;
    finding.stream = m_Label;
    finding.sector = sector;
    if (!m_Files.empty()) {
        const File& file = FileOf(sector);
        finding.file = file.name;
        finding.fileSector = sector - file.first;
    } else {
        finding.file = m_NameWithoutFiles;
    }
    finding.message = message;
    report.Add(std::move(finding));
}

bool CVerifyStream::IsNav(int64_t sector) const {
    return sector >= 0 && sector < Sectors() && m_Class[static_cast<size_t>(sector)] == kClassNav;
}

int32_t CVerifyStream::NavIndex(int64_t sector) const {
    if (!IsNav(sector)) {
        return -1;
    }
    auto at =
        std::lower_bound(m_NavSectors.begin(), m_NavSectors.end(), static_cast<uint32_t>(sector));
    return static_cast<int32_t>(at - m_NavSectors.begin());
}

bool CVerifyStream::Scan(CVerifyReport& report) {
    alignas(64) uint8_t pack[pack::kPackSize];
    int64_t sector = 0;
    for (File& f : m_Files) {
        f.first = sector;
        CVobFile file(m_FileSystem);
        if (!file.Open(f.path, OpenMode::Read)) {
            report.Add(
                {finding::kReadError, f.name, m_Label, -1, -1, "cannot open: " + file.LastError()});
            return false;
        }
        m_Class.reserve(m_Class.size() +
                        static_cast<size_t>(m_FileSystem.SizeBytes(f.path) / pack::kPackSize));
        for (;;) {
            const int32_t got = file.ReadNext(pack);
            if (got < 0) {
                report.Add({finding::kReadError, f.name, m_Label, sector, sector - f.first,
                            "cannot read: " + file.LastError()});
                return false;
            }
            if (got < pack::kPackSize) {
                break;  // a partial pack at the end of a file is no sector of the stream
            }
            const uint8_t cls = ClassOf(pack);
            m_Class.push_back(cls);
            if (cls == kClassBlank) {
                Report(report, finding::kBlankPack, sector,
                       "zero-filled sector, not an MPEG-2 pack");
            } else if (cls == kClassNotAPack) {
                Report(report, finding::kNotAPack, sector, "sector without an MPEG-2 pack header");
            } else if (cls == kClassNav) {
                const uint32_t pci = ReadBE32(pack, pack::kPciNavLba);
                const uint32_t dsi = ReadBE32(pack, pack::kDsiNavLba);
                if (pci != sector || dsi != sector) {
                    Report(
                        report, finding::kNavpackLba, sector,
                        "navpack carries LBA " + std::to_string(pci) + "/" + std::to_string(dsi));
                }
                m_NavSectors.push_back(static_cast<uint32_t>(sector));
                m_NavVcid.push_back(static_cast<uint32_t>(ReadBE16(pack, pack::kDsiVobId)) << 8 |
                                    pack[pack::kDsiCellId]);
                m_NavVobuEnd.push_back(ReadBE32(pack, pack::kDsiVobuEnd));
                m_Ilvu.push_back({static_cast<uint32_t>(sector),
                                  {ReadBE16(pack, pack::kDsiVobId), pack[pack::kDsiCellId]},
                                  ilvu::CellElapsedFrames(pack),
                                  ilvu::ReadFields(pack)});
            }
            ++sector;
        }
    }
    CheckVobuEnds(report);
    return true;
}

void CVerifyStream::CheckVobuEnds(CVerifyReport& report) {
    const size_t n = m_NavSectors.size();
    for (size_t i = 0; i < n; ++i) {
        const int64_t sector = m_NavSectors[i];
        const int64_t end = sector + m_NavVobuEnd[i];
        const int64_t expected = i + 1 < n ? int64_t{m_NavSectors[i + 1]} - 1 : Sectors() - 1;
        if (end != expected) {
            Report(report, finding::kVobuEnd, sector,
                   "VOBU ends at " + std::to_string(end) + ", the next VOBU starts at " +
                       std::to_string(expected + 1));
        }
    }
}

void CVerifyStream::AddPackRuns(map::DomainMap& domain) const {
    const size_t n = m_Class.size();
    for (size_t i = 0; i < n; ++i) {
        const uint8_t cls = m_Class[i];
        if (cls == kClassBlank || cls == kClassNotAPack) {
            map::AppendRun(cls == kClassBlank ? domain.blank : domain.notPacks,
                           static_cast<int64_t>(i));
        }
    }
}

void CVerifyStream::FindCellNeighbours() {
    const int32_t n = static_cast<int32_t>(m_NavSectors.size());
    m_NextOfCell.assign(static_cast<size_t>(n), -1);
    m_PrevOfCell.assign(static_cast<size_t>(n), -1);
    std::unordered_map<uint32_t, int32_t> lastOf;  // each cell's latest navpack so far
    for (int32_t i = 0; i < n; ++i) {
        auto [at, first] = lastOf.try_emplace(Vcid(i), i);
        if (!first) {
            m_PrevOfCell[static_cast<size_t>(i)] = at->second;
            m_NextOfCell[static_cast<size_t>(at->second)] = i;
            at->second = i;
        }
    }
}

void CVerifyStream::CheckNavPointers(CVerifyReport& report) {
    FindCellNeighbours();
    alignas(64) uint8_t pack[pack::kPackSize];
    CVobFile file(m_FileSystem);
    const File* open = nullptr;
    for (size_t i = 0; i < m_NavSectors.size(); ++i) {
        const File& holder = FileOf(m_NavSectors[i]);
        if (open != &holder) {
            file.Close();
            open = &holder;
            if (!file.Open(holder.path, OpenMode::Read)) {
                report.Add({finding::kReadError, holder.name, m_Label, -1, -1,
                            "cannot open: " + file.LastError()});
                return;
            }
        }
        if (!file.ReadAt(m_NavSectors[i] - holder.first, pack)) {
            Report(report, finding::kReadError, m_NavSectors[i],
                   "cannot read: " + file.LastError());
            return;
        }
        CheckOneNavpack(report, static_cast<int32_t>(i), pack);
    }
}

// What a player relies on: the next and previous VOBU pointers lead to the neighbouring navpack
// of the cell (or say end of cell at its edges), every other search pointer to a navpack of the
// same cell, the reference picture ends stay inside the VOBU, and each sync offset lands on a
// pack of its stream.
void CVerifyStream::CheckOneNavpack(CVerifyReport& report, int32_t nav, const uint8_t* pack) const {
    const int32_t n = static_cast<int32_t>(m_NavSectors.size());
    auto sectorOf = [&](int32_t i) { return i < 0 ? int64_t{-1} : int64_t{m_NavSectors[i]}; };
    NavpackPlace at;
    at.nav = nav;
    at.sector = m_NavSectors[static_cast<size_t>(nav)];
    at.nextOfCell = sectorOf(m_NextOfCell[static_cast<size_t>(nav)]);
    at.prevOfCell = sectorOf(m_PrevOfCell[static_cast<size_t>(nav)]);
    at.vobuEnd = nav + 1 < n ? int64_t{m_NavSectors[static_cast<size_t>(nav) + 1]} : Sectors();
    CheckSearchPointers(report, at, pack);
    CheckReferenceEnds(report, at, pack);
    CheckAudioSync(report, at, pack);
    CheckSubpictureSync(report, at, pack);
}

void CVerifyStream::Fail(CVerifyReport& report, const NavpackPlace& at, const char* kind,
                         const char* what, uint32_t value) const {
    Report(report, kind, at.sector, std::string(what) + " (value " + Hex(value) + ")");
}

void CVerifyStream::CheckSearchPointers(CVerifyReport& report, const NavpackPlace& at,
                                        const uint8_t* pack) const {
    for (int32_t k = 0; k < pack::kSearchCount; ++k) {
        const uint32_t value = ReadBE32(pack, pack::kDsiSearch + 4 * k);
        if (k == pack::kSearchNextVobu || k == pack::kSearchNextVobu + 1) {
            CheckNeighbourPointer(report, at, k == pack::kSearchNextVobu, value);
            continue;
        }
        const uint32_t distance = value & pack::kSearchDistanceMask;
        if (distance == pack::kSearchEndOfCell) {
            continue;
        }
        const int64_t target =
            k > pack::kSearchNextVobu ? at.sector - distance : at.sector + distance;
        const int32_t hit = NavIndex(target);
        if (hit < 0 || Vcid(hit) != Vcid(at.nav)) {
            Fail(report, at, finding::kSearchPointer,
                 "search pointer does not land on a navpack of its cell", value);
        }
    }
}

void CVerifyStream::CheckNeighbourPointer(CVerifyReport& report, const NavpackPlace& at, bool next,
                                          uint32_t value) const {
    const uint32_t distance = value & pack::kSearchDistanceMask;
    const int64_t neighbour = next ? at.nextOfCell : at.prevOfCell;
    const bool noNeighbour = neighbour < 0;
    if (distance == pack::kSearchEndOfCell) {
        if (!noNeighbour) {
            Fail(report, at, finding::kSearchPointer,
                 next ? "next VOBU pointer says end of cell, it is not"
                      : "previous VOBU pointer says start of cell, it is not",
                 value);
        }
        return;
    }
    const int64_t target = next ? at.sector + distance : at.sector - distance;
    if (noNeighbour || target != neighbour) {
        Fail(report, at, finding::kSearchPointer,
             next ? "next VOBU pointer misses the next navpack of the cell"
                  : "previous VOBU pointer misses the previous navpack of the cell",
             value);
    }
}

void CVerifyStream::CheckReferenceEnds(CVerifyReport& report, const NavpackPlace& at,
                                       const uint8_t* pack) const {
    for (int32_t k = 0; k < pack::kDsiRefEndCount; ++k) {
        const uint32_t distance = ReadBE32(pack, pack::kDsiRefEnd + 4 * k);
        if (distance != 0 && at.sector + distance >= at.vobuEnd) {
            Fail(report, at, finding::kReferenceEnd, "reference picture end lies outside the VOBU",
                 distance);
        }
    }
}

void CVerifyStream::CheckAudioSync(CVerifyReport& report, const NavpackPlace& at,
                                   const uint8_t* pack) const {
    for (int32_t k = 0; k < pack::kAudioSyncCount; ++k) {
        const uint32_t value = ReadBE16(pack, pack::kDsiAudioSync + 2 * k);
        const uint32_t distance = value & pack::kAudioSyncDistanceMask;
        if (distance == 0 || distance == pack::kAudioSyncNoPack ||
            distance == pack::kAudioSyncDistanceMask) {
            continue;
        }
        const int64_t target =
            (value & pack::kAudioSyncBackward) != 0 ? at.sector - distance : at.sector + distance;
        if (target < 0 || target >= Sectors() ||
            m_Class[static_cast<size_t>(target)] != (kClassAudio | k)) {
            Fail(report, at, finding::kSyncOffset,
                 "audio sync offset does not land on a pack of its stream", value);
        }
    }
}

void CVerifyStream::CheckSubpictureSync(CVerifyReport& report, const NavpackPlace& at,
                                        const uint8_t* pack) const {
    for (int32_t k = 0; k < pack::kSubpictureSyncCount; ++k) {
        const uint32_t value = ReadBE32(pack, pack::kDsiSubpictureSync + 4 * k);
        const uint32_t distance = value & pack::kSubpictureSyncDistanceMask;
        if (distance == 0 || distance == pack::kSubpictureSyncDistanceMask) {
            continue;
        }
        const int64_t target = (value & pack::kSubpictureSyncBackward) != 0 ? at.sector - distance
                                                                            : at.sector + distance;
        if (target < 0 || target >= Sectors() ||
            (m_Class[static_cast<size_t>(target)] & ~kClassStreamMask) != kClassSubpicture ||
            (m_Class[static_cast<size_t>(target)] & kClassStreamMask) != k) {
            Fail(report, at, finding::kSyncOffset,
                 "sub-picture sync offset does not land on a pack of its stream", value);
        }
    }
}

}  // namespace dorvex
