#include "engine/check/VerifyLibdvdread.h"

#include <cstring>
#include <string>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Paths.h"

namespace dorvex {

namespace {

class LibdvdreadChecks {
  public:
    LibdvdreadChecks(CIfoFile& ifo, CVerifyReport& report)
        : m_Ifo(ifo), m_Report(report), m_Name(GetFileName(ifo.m_szPath)) {}

    void Run() {
        if (!Identified()) {
            return;
        }
        if (m_Ifo.m_bVmg) {
            VideoManager();
        } else {
            TitleSet();
        }
        CellAddressTable(IfoMenuCAdt, false);
        VobuAdmap(IfoMenuVobuAdmap);
        CellPlayback(true);
    }

  private:
    void Refuses(const std::string& why) {
        m_Report.Add({finding::kLibdvdreadRefuses, m_Name, "", -1, -1,
                      "libdvdread refuses to open " + m_Name + ": " + why});
    }
    void Warns(const std::string& what) {
        m_Report.Add({finding::kLibdvdreadWarning, m_Name, "", -1, -1,
                      "libdvdread complains about " + m_Name + ": " + what});
    }
    uint32_t Header32(int32_t field) { return ReadBE32(m_Ifo.Data(), field); }
    // The bytes after a table's 8-byte header up to its end address (negative when the end
    // address lies inside the header).
    int64_t InfoLength(int32_t index) {
        return int64_t{m_Ifo.GetTableEnd(index)} + 1 - ifo::kTableEntries;
    }

    bool Identified() {
        const char* expected = m_Ifo.m_bVmg ? "DVDVIDEO-VMG" : "DVDVIDEO-VTS";
        if (std::memcmp(m_Ifo.Data() + ifo::kIdentifier, expected, ifo::kIdentifierLength) != 0) {
            Refuses(std::string("it does not start with ") + expected);
            return false;
        }
        return true;
    }

    // A required table: present, and (with needsEntries) with bytes after its header, since
    // libdvdread fails on reading none.
    bool Required(int32_t index, const char* name, bool needsEntries) {
        if (m_Ifo.GetTable(index) == nullptr) {
            Refuses(std::string(name) + " is missing");
            return false;
        }
        if (needsEntries && InfoLength(index) <= 0) {
            Refuses(std::string(name) + " is empty");
            return false;
        }
        return true;
    }

    void SectorRelations(const char* menuName, bool checkTitleVobs) {
        const uint32_t lastOfSet = Header32(ifo::kLastSectorOfSet);
        const uint32_t lastOfIfo = Header32(ifo::kLastSectorOfIfo);
        const char* prefix = m_Ifo.m_bVmg ? "VMG" : "VTS";
        if (uint64_t{lastOfIfo} * 2 > lastOfSet) {
            Warns(std::string(prefix) + "I_LAST_SECTOR " + std::to_string(lastOfIfo) +
                  " is more than half of " + prefix + "_LAST_SECTOR " + std::to_string(lastOfSet));
        }
        auto inRange = [&](int32_t field, const char* name) {
            const uint32_t start = Header32(field);
            if (start != 0 && (start <= lastOfIfo || start >= lastOfSet)) {
                Warns(std::string(name) + " " + std::to_string(start) +
                      " lies outside the title set (" + std::to_string(lastOfIfo + 1) + ".." +
                      std::to_string(lastOfSet) + ")");
            }
        };
        inRange(ifo::kMenuVobsSector, menuName);
        if (checkTitleVobs) {
            inRange(ifo::kTitleVobsOrTtSrpt, "VTSTT_VOBS");
        }
    }

    void VideoManager() {
        SectorRelations("VMGM_VOBS", false);
        const uint16_t titleSets = ReadBE16(m_Ifo.Data(), ifo::kVmgTitleSetCount);
        if (titleSets == 0) {
            Warns("the number of title sets is 0");
        }
        if (Required(IfoTtSrpt, "TT_SRPT", true)) {
            const uint16_t titles = ReadBE16(m_Ifo.GetTable(IfoTtSrpt), ifo::kTableCount);
            if (titles == 0) {
                Warns("TT_SRPT lists no title");
            } else if (int64_t{titles} * ifo::kTtSrptEntrySize > InfoLength(IfoTtSrpt)) {
                Warns("TT_SRPT lists " + std::to_string(titles) + " titles in " +
                      std::to_string(InfoLength(IfoTtSrpt)) + " bytes");
            }
        }
        if (Required(IfoVmgVtsAtrt, "VMG_VTS_ATRT", false) &&
            ReadBE16(m_Ifo.GetTable(IfoVmgVtsAtrt), ifo::kAtrtTitleSetCount) == 0) {
            Refuses("VMG_VTS_ATRT lists no title set");
        }
        if (const uint8_t* ptl = m_Ifo.GetTable(IfoVmgPtlMait);
            ptl != nullptr && ReadBE16(ptl, ifo::kPtlTitleSetCount) == 0) {
            Warns("VMG_PTL_MAIT lists no title set");
        }
    }

    void TitleSet() {
        SectorRelations("VTSM_VOBS", true);
        if (Required(IfoVtsPttSrpt, "VTS_PTT_SRPT", true)) {
            const uint16_t titles = ReadBE16(m_Ifo.GetTable(IfoVtsPttSrpt), ifo::kTableCount);
            if (int64_t{titles} * ifo::kPttOffsetSize > InfoLength(IfoVtsPttSrpt)) {
                Refuses("VTS_PTT_SRPT is too small for its " + std::to_string(titles) + " titles");
            }
        }
        Required(IfoVtsPgcit, "VTS_PGCIT", false);
        if (Required(IfoVtsCAdt, "VTS_C_ADT", false)) {
            CellAddressTable(IfoVtsCAdt, true);
        }
        if (Required(IfoVtsVobuAdmap, "VTS_VOBU_ADMAP", false)) {
            VobuAdmap(IfoVtsVobuAdmap);
        }
        CellPlayback(false);
    }

    void CellAddressTable(int32_t index, bool titles) {
        const uint8_t* table = m_Ifo.GetTable(index);
        if (table == nullptr) {
            return;
        }
        const char* name = titles ? "VTS_C_ADT" : (m_Ifo.m_bVmg ? "VMGM_C_ADT" : "VTSM_C_ADT");
        const int64_t info = InfoLength(index);
        if (info < 0) {
            // The title table is required; a menu table that cannot be read is only left out.
            const std::string why = std::string(name) + " ends inside its own header";
            titles ? Refuses(why) : Warns(why);
            return;
        }
        if (info % ifo::kCAdtEntrySize != 0) {
            Warns(std::string(name) + " holds " + std::to_string(info) +
                  " bytes of entries, not a multiple of 12");
        }
        const int64_t entries = info / ifo::kCAdtEntrySize;
        const uint16_t vobs = ReadBE16(table, ifo::kTableCount);
        if (vobs > entries) {
            Warns(std::string(name) + " counts " + std::to_string(vobs) + " VOBs in " +
                  std::to_string(entries) + " entries");
        }
        for (int64_t i = 0; i < entries; ++i) {
            const uint8_t* entry = table + ifo::kTableEntries + i * ifo::kCAdtEntrySize;
            if (!m_Ifo.Contains(entry, ifo::kCAdtEntrySize)) {
                break;
            }
            const uint16_t vobId = ReadBE16(entry, ifo::kCAdtVobId);
            const uint8_t cellId = entry[ifo::kCAdtCellId];
            const uint32_t first = ReadBE32(entry, ifo::kCAdtFirstSector);
            const uint32_t last = ReadBE32(entry, ifo::kCAdtLastSector);
            if (vobId == 0 || cellId == 0 || first >= last) {
                Warns(std::string(name) + " entry " + std::to_string(i + 1) + " (" +
                      std::to_string(vobId) + "/" + std::to_string(cellId) + ", sectors " +
                      std::to_string(first) + ".." + std::to_string(last) +
                      ") has a zero ID or no more than one sector");
            }
        }
    }

    void VobuAdmap(int32_t index) {
        if (m_Ifo.GetTable(index) == nullptr) {
            return;
        }
        const int64_t info = int64_t{m_Ifo.GetTableEnd(index)} + 1 - ifo::kAdmapEntries;
        if (info < 0 || info % ifo::kAdmapEntrySize != 0) {
            Warns("a VOBU address map holds " + std::to_string(info) +
                  " bytes of entries, not a multiple of 4");
        }
    }

    void CellPlayback(bool menu) {
        m_Ifo.ForEachCell(
            menu, [&](uint16_t lu, uint16_t pgcn, uint16_t cell, uint8_t* playback, uint8_t*) {
                const uint32_t first = ReadBE32(playback, ifo::kCellFirstVobuStart);
                const uint32_t lastStart = ReadBE32(playback, ifo::kCellLastVobuStart);
                const uint32_t last = ReadBE32(playback, ifo::kCellLastVobuEnd);
                if (first > lastStart || lastStart > last) {
                    Warns(std::string(menu ? "menu LU " + std::to_string(lu) + " " : "") + "PGC " +
                          std::to_string(pgcn) + " cell " + std::to_string(cell) + ": sectors " +
                          std::to_string(first) + ", " + std::to_string(lastStart) + ", " +
                          std::to_string(last) + " are out of order");
                }
            });
    }

    CIfoFile& m_Ifo;
    CVerifyReport& m_Report;
    std::string m_Name;
};

}  // namespace

void VerifyLibdvdreadOpen(CIfoFile& ifo, CVerifyReport& report) {
    LibdvdreadChecks(ifo, report).Run();
}

}  // namespace dorvex
