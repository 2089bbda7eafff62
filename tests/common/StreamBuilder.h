// Synthetic DVD-Video VOB streams for tests and benchmarks: single packs (navigation, video with
// a sequence header, audio, padding, blank), a writer that lays a stream out across the numbered
// VOB files of a title set as it goes (nothing is held in memory beyond one pack), and readers
// that parse the navpack fields back for assertions.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/PackLayout.h"

namespace dorvex::testkit {

inline constexpr int32_t kPack = 2048;
inline constexpr int32_t kAngleEntries = pack::kAngleCount;

// The interleaved-unit and angle fields of a navpack: seamless playback (SML_PBI), seamless
// angles (SML_AGLI) and non-seamless angles (NSML_AGLI). Distances count sectors from the
// navpack.
struct IlvuFields {
    uint16_t category = 0;
    uint32_t ilvuEnd = 0;                                // ILVU_EA
    uint32_t nextIlvuStart = 0;                          // NT_ILVU_SA
    uint16_t nextIlvuSize = 0;                           // NT_ILVU_SZ
    std::array<uint32_t, kAngleEntries> angleAddress{};  // SML_AGLI
    std::array<uint16_t, kAngleEntries> angleSize{};
    std::array<uint32_t, kAngleEntries> nonSeamlessAngle{};  // NSML_AGLI
    bool operator==(const IlvuFields&) const = default;
};

struct NavFields {
    uint32_t lba = 0;      // written to both PCI and DSI navpack LBA fields
    uint32_t vobuEnd = 0;  // packs after the navpack up to the last pack of its VOBU
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    uint16_t ilvuCategory = 0;  // non-zero fills the ILVU and angle fields too
};

// A navpack of an interleaved layout: its ILVU and angle fields written as given (the filler
// category unused) and its cell elapsed time.
struct IlvuNavFields {
    NavFields nav;
    IlvuFields ilvu;
    uint32_t cellElapsed = 0;  // C_ELTM: BCD hh mm ss ff, the frame rate in ff's top bits
};

// Fields of a navpack read back from its bytes.
struct NavView {
    uint32_t pciLba = 0;
    uint32_t dsiLba = 0;
    uint32_t vobuEnd = 0;
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    uint16_t ilvuCategory = 0;
    bool ilvuFieldsClear = true;  // ILVU, non-seamless and seamless angle fields all zero
    IlvuFields ilvu;
};

// Cells played interleaved, one cell (ID 1) per VOB ID: the angles of an angle block, seamless
// or not, or the cells of a seamless branch. Every cell has `ilvus` ILVUs of `vobusPerIlvu`
// VOBUs of `dataPacks` packs after the navpack; they alternate cell by cell, ILVU by ILVU.
struct InterleavedBlockSpec {
    enum class Kind { SeamlessAngles, NonSeamlessAngles, Branch };
    Kind kind = Kind::SeamlessAngles;
    std::vector<uint16_t> vobIds;
    int32_t ilvus = 2;
    int32_t vobusPerIlvu = 1;
    int32_t dataPacks = 3;
};

// Where a block's VOBUs were written: navpacks[cell][ilvu][vobu] is a navpack's run-relative
// sector, and each carries fields[cell][ilvu][vobu].
struct InterleavedBlock {
    std::vector<std::vector<std::vector<int64_t>>> navpacks;
    std::vector<std::vector<std::vector<IlvuFields>>> fields;
};

// The fields a block's navpacks carry, by the rules a player follows: ILVU_EA the ILVU's last
// sector, NT_ILVU_SA/SZ the cell's next ILVU (the sentinels in its last); an angle block's
// SML_AGLI the next ILVU of every angle, or its NSML_AGLI every angle's VOBU that starts when
// this one ends (0x7FFFFFFF past the block's end); entries beyond the angles 0.
InterleavedBlock PlanInterleavedBlock(const InterleavedBlockSpec& spec, int64_t firstSector);
// C_ELTM of a cell's VOBU n at 12 frames a VOBU, 25 frames a second.
uint32_t CellElapsedOfVobu(int32_t n);

void MakeNavPack(uint8_t* pack, const NavFields& fields);
void MakeIlvuNavPack(uint8_t* pack, const IlvuNavFields& fields);
// A video pack; with sequenceHeader an MPEG-2 sequence header (720 x height) and a picture
// start code lead the payload. `fill` marks the payload so that tests can tell packs apart.
void MakeVideoPack(uint8_t* pack, uint8_t fill, bool sequenceHeader = false, int32_t height = 576);
void MakeAudioPack(uint8_t* pack, uint8_t fill);
void MakePaddingPack(uint8_t* pack);
void MakeBlankPack(uint8_t* pack);

bool IsNavPack(const uint8_t* pack);
bool IsBlankPack(const uint8_t* pack);
// The fill byte MakeVideoPack/MakeAudioPack put at the end of the payload.
uint8_t PackMark(const uint8_t* pack);
NavView ReadNav(const uint8_t* pack);

// Path of file `number` of a title set in a folder: folder/VTS_tt_n.VOB.
std::string VobPath(const std::string& folder, int32_t titleSet, int32_t number);

// Writes a stream pack by pack across files. Files are opened one after another; each takes
// `packsPerFile` packs (the last may take fewer). Navpacks get their run-relative LBA.
class StreamWriter {
  public:
    // Files folder/VTS_tt_n.VOB, n = firstNumber, firstNumber + step, ...
    StreamWriter(std::string folder, int32_t titleSet, int64_t packsPerFile,
                 int32_t firstNumber = 1, int32_t step = 1);
    // One file only (a menu VOB such as VTS_01_0.VOB or VIDEO_TS.VOB).
    explicit StreamWriter(std::string singleFile);
    ~StreamWriter();
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    // A VOBU: a navpack (LBA = its run-relative position, end address = dataPacks) and
    // dataPacks video packs, the first with a sequence header. Returns the navpack's LBA.
    int64_t AddVobu(uint16_t vobId, uint8_t cellId, int32_t dataPacks, uint16_t ilvuCategory = 0);
    // A VOBU whose end address also covers `blanks` blank packs after its data: a run with -u
    // removes them, and the navpack changes where it stands.
    int64_t AddVobuEndingInBlanks(uint16_t vobId, uint8_t cellId, int32_t dataPacks,
                                  int32_t blanks);
    // The same with an interleaved layout's fields as given (LBA and end address set here).
    int64_t AddIlvuVobu(IlvuNavFields fields, int32_t dataPacks);
    // A cell (ID 1) of `count` VOBUs whose last three are a pre-unit, as before a block.
    void AddPreUnitCell(uint16_t vobId, int32_t count, int32_t dataPacks);
    // An interleaved block laid out by PlanInterleavedBlock from the next pack on.
    InterleavedBlock AddInterleavedBlock(const InterleavedBlockSpec& spec);
    void AddPack(const uint8_t* pack);
    // The height the sequence headers of later VOBUs give: 576 (PAL) unless set, 480 for NTSC.
    void SetVideoHeight(int32_t height) { m_VideoHeight = height; }
    void AddBlank(int32_t count);
    // Closes the current file and starts the next even if it is not full.
    void NextFile();
    void Finish();

    int64_t PacksWritten() const { return m_Total; }
    const std::vector<std::string>& Files() const { return m_Files; }

  private:
    void OpenNext();
    // The navpack at the next position, then dataPacks video and audio packs.
    int64_t WriteVobu(const uint8_t* navpack, int32_t dataPacks);

    std::string m_Folder;
    std::string m_SingleFile;
    int32_t m_TitleSet = 0;
    int64_t m_PacksPerFile = 0;
    int32_t m_Number = 0;
    int32_t m_Step = 1;
    FILE* m_File = nullptr;
    int64_t m_InFile = 0;
    int64_t m_Total = 0;
    uint8_t m_Mark = 0;
    int32_t m_VideoHeight = 576;
    std::vector<std::string> m_Files;
};

// Every pack of a file (a trailing partial pack is left out).
std::vector<std::vector<uint8_t>> ReadPacks(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace dorvex::testkit
