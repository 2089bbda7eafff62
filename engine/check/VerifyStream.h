// One domain's VOB stream as a player reads it (the menu VOB, or the title VOBs back to back),
// scanned once from start to end. What later checks need is kept compactly: one class byte per
// pack, and per navpack its sector, VOB/cell ID and VOBU end address. A second pass reads the
// navpacks alone again to follow their relative pointers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/check/VerifyReport.h"
#include "engine/ilvu/IlvuLayout.h"
#include "engine/map/DiscMap.h"
#include "support/FileSystem.h"

namespace dorvex {

class CVerifyStream {
  public:
    // label names the stream in findings ("VTS_01 titles"); paths are its files in order.
    CVerifyStream(FileSystem& files, std::string label, std::vector<std::string> paths);

    // Reads every pack: classifies it, checks pack headers and navpack LBA fields, and after
    // the last pack the VOBU end addresses. False when a file could not be read (reported).
    bool Scan(CVerifyReport& report);
    // Second pass over the navpacks: search pointers, reference picture ends, sync offsets.
    // The next and previous VOBU of a cell are its neighbours in that cell, wherever they lie:
    // an interleaved cell's lie beyond the other cells' ILVUs.
    void CheckNavPointers(CVerifyReport& report);

    // The file that findings name when the stream has no file at all (its first VOB).
    void SetNameWithoutFiles(std::string name) { m_NameWithoutFiles = std::move(name); }

    const std::string& Label() const { return m_Label; }
    int64_t Sectors() const { return static_cast<int64_t>(m_Class.size()); }
    bool IsNav(int64_t sector) const;
    // Index of the navpack at a sector, -1 when there is none.
    int32_t NavIndex(int64_t sector) const;
    const std::vector<uint32_t>& NavSectors() const { return m_NavSectors; }
    uint16_t NavVobId(int32_t nav) const { return static_cast<uint16_t>(m_NavVcid[nav] >> 8); }
    uint8_t NavCellId(int32_t nav) const { return static_cast<uint8_t>(m_NavVcid[nav]); }
    uint32_t NavVobuEnd(int32_t nav) const { return m_NavVobuEnd[nav]; }
    // Every navpack with its cell elapsed time and ILVU and angle fields, for the layout rules.
    const std::vector<ilvu::Navpack>& IlvuNavpacks() const { return m_Ilvu; }

    // The map of what Scan read: files, cells (who plays them, as the IFO's cells say), blank
    // packs and sectors without a pack header (engine/check/StreamMap.cpp).
    map::DomainMap Map(const ilvu::Layout& ifoCells, bool menu) const;

    // A finding at a sector of this stream: the file and the sector in it are filled in.
    void Report(CVerifyReport& report, const char* kind, int64_t sector,
                const std::string& message) const;

  private:
    FileSystem& m_FileSystem;
    struct File {
        std::string path;
        std::string name;
        int64_t first = 0;  // stream sector of its first pack
    };
    // The file holding a stream sector (the last file for a sector past the end).
    const File& FileOf(int64_t sector) const;
    uint32_t Vcid(int32_t nav) const { return m_NavVcid[nav]; }
    void CheckVobuEnds(CVerifyReport& report);
    // The runs of blank packs and of sectors without a pack header.
    void AddPackRuns(map::DomainMap& domain) const;
    void CheckOneNavpack(CVerifyReport& report, int32_t nav, const uint8_t* pack) const;
    // Where a navpack stands in the stream and in its cell, for the checks of its pointers.
    struct NavpackPlace {
        int32_t nav = 0;
        int64_t sector = 0;
        int64_t nextOfCell = -1;  // the sector of the cell's next navpack, -1 when none
        int64_t prevOfCell = -1;  // and of its previous one
        int64_t vobuEnd = 0;      // the next navpack's sector, or the end of the stream
    };
    // Each navpack's next and previous navpack of its cell, on either side.
    void FindCellNeighbours();
    // A finding at the navpack about one of its fields, whose value it quotes.
    void Fail(CVerifyReport& report, const NavpackPlace& at, const char* kind, const char* what,
              uint32_t value) const;
    void CheckSearchPointers(CVerifyReport& report, const NavpackPlace& at,
                             const uint8_t* pack) const;
    void CheckNeighbourPointer(CVerifyReport& report, const NavpackPlace& at, bool next,
                               uint32_t value) const;
    void CheckReferenceEnds(CVerifyReport& report, const NavpackPlace& at,
                            const uint8_t* pack) const;
    void CheckAudioSync(CVerifyReport& report, const NavpackPlace& at, const uint8_t* pack) const;
    void CheckSubpictureSync(CVerifyReport& report, const NavpackPlace& at,
                             const uint8_t* pack) const;

    std::string m_Label;
    std::string m_NameWithoutFiles;
    std::vector<File> m_Files;
    std::vector<uint8_t> m_Class;  // per pack, see VerifyStream.cpp
    std::vector<uint32_t> m_NavSectors;
    std::vector<uint32_t> m_NavVcid;  // VOB ID << 8 | cell ID
    std::vector<uint32_t> m_NavVobuEnd;
    std::vector<ilvu::Navpack> m_Ilvu;
    std::vector<int32_t> m_NextOfCell;  // navpack indices, -1 none
    std::vector<int32_t> m_PrevOfCell;
};

}  // namespace dorvex
