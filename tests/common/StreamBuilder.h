// Synthetic DVD-Video VOB streams for tests and benchmarks: single packs (navigation, video with
// a sequence header, audio, padding, blank), a writer that lays a stream out across the numbered
// VOB files of a title set as it goes (nothing is held in memory beyond one pack), and readers
// that parse the navpack fields back for assertions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dorvex::testkit {

inline constexpr int32_t kPack = 2048;

struct NavFields {
    uint32_t lba = 0;      // written to both PCI and DSI navpack LBA fields
    uint32_t vobuEnd = 0;  // packs after the navpack up to the last pack of its VOBU
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    uint16_t ilvuCategory = 0;  // non-zero fills the ILVU and angle fields too
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
};

void MakeNavPack(uint8_t* pack, const NavFields& fields);
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
