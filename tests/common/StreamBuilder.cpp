#include "common/StreamBuilder.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "engine/PackLayout.h"
#include "support/BigEndian.h"

namespace dorvex::testkit {

namespace {

// Pack header with SCR 0 and mux rate 25200.
constexpr uint8_t kPackHeader[14] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                                     0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
constexpr uint8_t kSystemHeaderCode[4] = {0x00, 0x00, 0x01, 0xBB};

constexpr int32_t kFramesPerVobu = 12;
constexpr int32_t kFramesPerSecond = 25;
constexpr uint8_t kCellElapsedRate25 = 0x40;
constexpr int32_t kPreUnitVobus = 3;

void StartPack(uint8_t* pack) {
    memset(pack, 0, kPack);
    memcpy(pack, kPackHeader, sizeof(kPackHeader));
}

// PES packet at 14 with stream code, a header data length of 5 and the payload after it.
int32_t StartPes(uint8_t* pack, uint32_t code) {
    WriteBE32(pack, pack::kFirstPacketCode, code);
    WriteBE16(pack, 18, kPack - 20);
    pack[20] = 0x81;
    pack[21] = 0x80;
    pack[pack::kPesHeaderDataLength] = 5;
    return pack::kPesPayloadBase + 5;
}

void WriteIlvu(uint8_t* pack, const IlvuFields& f) {
    WriteBE16(pack, pack::kDsiIlvuCategory, f.category);
    WriteBE32(pack, pack::kDsiIlvuEnd, f.ilvuEnd);
    WriteBE32(pack, pack::kDsiNextIlvuStart, f.nextIlvuStart);
    WriteBE16(pack, pack::kDsiNextIlvuSize, f.nextIlvuSize);
    for (int32_t n = 0; n < kAngleEntries; ++n) {
        WriteBE32(pack, pack::kDsiSmlAngle + pack::kSmlAngleEntrySize * n, f.angleAddress[n]);
        WriteBE16(pack, pack::kDsiSmlAngle + pack::kSmlAngleEntrySize * n + pack::kSmlAngleSizeAt,
                  f.angleSize[n]);
        WriteBE32(pack, pack::kPciNsmlAngle + pack::kPciNsmlAngleEntrySize * n,
                  f.nonSeamlessAngle[n]);
    }
}

IlvuFields ReadIlvu(const uint8_t* pack) {
    IlvuFields f;
    f.category = ReadBE16(pack, pack::kDsiIlvuCategory);
    f.ilvuEnd = ReadBE32(pack, pack::kDsiIlvuEnd);
    f.nextIlvuStart = ReadBE32(pack, pack::kDsiNextIlvuStart);
    f.nextIlvuSize = ReadBE16(pack, pack::kDsiNextIlvuSize);
    for (int32_t n = 0; n < kAngleEntries; ++n) {
        f.angleAddress[n] = ReadBE32(pack, pack::kDsiSmlAngle + pack::kSmlAngleEntrySize * n);
        f.angleSize[n] = ReadBE16(
            pack, pack::kDsiSmlAngle + pack::kSmlAngleEntrySize * n + pack::kSmlAngleSizeAt);
        f.nonSeamlessAngle[n] =
            ReadBE32(pack, pack::kPciNsmlAngle + pack::kPciNsmlAngleEntrySize * n);
    }
    return f;
}

uint32_t Bcd(int32_t value) {
    return uint32_t((value / 10) << 4 | value % 10);
}

uint32_t Relative(int64_t target, int64_t navpack) {
    return target >= navpack ? uint32_t(target - navpack)
                             : pack::kAngleBackward | uint32_t(navpack - target);
}

}  // namespace

uint32_t CellElapsedOfVobu(int32_t n) {
    const int32_t frames = n * kFramesPerVobu;
    const int32_t seconds = frames / kFramesPerSecond;
    return Bcd(seconds / 3600) << 24 | Bcd(seconds / 60 % 60) << 16 | Bcd(seconds % 60) << 8 |
           kCellElapsedRate25 | Bcd(frames % kFramesPerSecond);
}

InterleavedBlock PlanInterleavedBlock(const InterleavedBlockSpec& spec, int64_t firstSector) {
    using Kind = InterleavedBlockSpec::Kind;
    const int32_t cells = int32_t(spec.vobIds.size());
    const int32_t perIlvu = spec.vobusPerIlvu;
    const int64_t vobuPacks = 1 + spec.dataPacks;
    auto at = [&](int32_t c, int32_t k, int32_t j) {
        return firstSector + ((int64_t(k) * cells + c) * perIlvu + j) * vobuPacks;
    };
    InterleavedBlock block;
    block.navpacks.assign(size_t(cells), std::vector<std::vector<int64_t>>(size_t(spec.ilvus)));
    block.fields.assign(size_t(cells), std::vector<std::vector<IlvuFields>>(size_t(spec.ilvus)));
    for (int32_t c = 0; c < cells; ++c) {
        for (int32_t k = 0; k < spec.ilvus; ++k) {
            const bool lastIlvu = k + 1 == spec.ilvus;
            for (int32_t j = 0; j < perIlvu; ++j) {
                const int64_t sector = at(c, k, j);
                IlvuFields f;
                f.category = pack::kIlvuInBlock | (j == 0 ? pack::kIlvuUnitStart : 0) |
                             (j + 1 == perIlvu ? pack::kIlvuUnitEnd : 0);
                f.ilvuEnd = uint32_t(at(c, k, perIlvu) - 1 - sector);
                f.nextIlvuStart =
                    lastIlvu ? pack::kNextIlvuNone : uint32_t(at(c, k + 1, 0) - sector);
                f.nextIlvuSize = lastIlvu ? pack::kNextIlvuSizeNone : uint16_t(perIlvu * vobuPacks);
                for (int32_t n = 0; n < cells && n < kAngleEntries; ++n) {
                    if (spec.kind == Kind::SeamlessAngles) {
                        f.angleAddress[n] =
                            lastIlvu ? pack::kAngleEnd : Relative(at(n, k + 1, 0), sector);
                        f.angleSize[n] = lastIlvu ? 0 : uint16_t(perIlvu * vobuPacks);
                    } else if (spec.kind == Kind::NonSeamlessAngles) {
                        const bool end = lastIlvu && j + 1 == perIlvu;
                        const int64_t next = j + 1 < perIlvu ? at(n, k, j + 1) : at(n, k + 1, 0);
                        f.nonSeamlessAngle[n] = end ? pack::kAngleEnd : Relative(next, sector);
                    }
                }
                block.navpacks[c][k].push_back(sector);
                block.fields[c][k].push_back(f);
            }
        }
    }
    return block;
}

void MakeNavPack(uint8_t* pack, const NavFields& f) {
    StartPack(pack);
    memcpy(pack + pack::kFirstPacketCode, kSystemHeaderCode, 4);
    WriteBE16(pack, 18, 18);
    WriteBE32(pack, pack::kPciPacket, pack::kCodePrivate2);
    WriteBE16(pack, pack::kPciPacket + 4, 0x03D4);
    pack[pack::kPciPacket + 6] = 0x00;
    WriteBE32(pack, pack::kDsiPacket, pack::kCodePrivate2);
    WriteBE16(pack, pack::kDsiPacket + 4, 0x03FA);
    pack[pack::kDsiPacket + 6] = 0x01;
    WriteBE32(pack, pack::kPciNavLba, f.lba);
    WriteBE32(pack, pack::kDsiNavLba, f.lba);
    WriteBE32(pack, pack::kDsiVobuEnd, f.vobuEnd);
    WriteBE16(pack, pack::kDsiVobId, f.vobId);
    pack[pack::kDsiCellId] = f.cellId;
    if (f.ilvuCategory != 0) {
        WriteBE16(pack, pack::kDsiIlvuCategory, f.ilvuCategory);
        memset(pack + pack::kDsiIlvuCategory + 2, 0x5A, pack::kDsiIlvuSize - 2);
        memset(pack + pack::kPciNsmlAngle, 0x5A, pack::kPciNsmlAngleSize);
        memset(pack + pack::kDsiSmlAngle, 0x5A, pack::kDsiSmlAngleSize);
    }
}

void MakeIlvuNavPack(uint8_t* pack, const IlvuNavFields& f) {
    NavFields plain = f.nav;
    plain.ilvuCategory = 0;
    MakeNavPack(pack, plain);
    WriteBE32(pack, pack::kDsiCellElapsed, f.cellElapsed);
    WriteIlvu(pack, f.ilvu);
}

void MakeVideoPack(uint8_t* pack, uint8_t fill, bool sequenceHeader, int32_t height) {
    StartPack(pack);
    int32_t p = StartPes(pack, pack::kCodeVideo0);
    memset(pack + p, fill == 0 ? 1 : fill, static_cast<size_t>(kPack - p));
    if (sequenceHeader) {
        WriteBE32(pack, p, pack::kCodeSequenceHeader);
        // 720 wide (12 bits), height (12 bits), aspect 4:3 and 25 or 29.97 frames per second.
        WriteBE32(
            pack, p + 4,
            (720u << 20) | (static_cast<uint32_t>(height) << 8) | (height == 480 ? 0x24 : 0x23));
        WriteBE32(pack, p + 8, 0);
        WriteBE32(pack, p + 12, pack::kCodePictureStart);
        pack[p + 16] = 0;
        pack[p + 17] = 0x08;  // I picture
        pack[p + 18] = 0;
    }
    pack[kPack - 1] = fill;
}

void MakeAudioPack(uint8_t* pack, uint8_t fill) {
    StartPack(pack);
    int32_t p = StartPes(pack, pack::kCodePrivate1);
    memset(pack + p, fill, static_cast<size_t>(kPack - p));
    pack[p] = 0x80;  // AC-3 substream 0
    pack[kPack - 1] = fill;
}

void MakePaddingPack(uint8_t* pack) {
    StartPack(pack);
    WriteBE32(pack, pack::kFirstPacketCode, pack::kCodePadding);
    WriteBE16(pack, 18, kPack - 20);
    memset(pack + 20, 0xFF, kPack - 20);
}

void MakeBlankPack(uint8_t* pack) {
    memset(pack, 0, kPack);
}

bool IsNavPack(const uint8_t* pack) {
    return ReadBE32(pack, pack::kPciPacket) == pack::kCodePrivate2 &&
           ReadBE32(pack, pack::kDsiPacket) == pack::kCodePrivate2;
}

bool IsBlankPack(const uint8_t* pack) {
    return ReadBE32(pack, pack::kFirstPacketCode) == pack::kCodeBlank;
}

uint8_t PackMark(const uint8_t* pack) {
    return pack[kPack - 1];
}

NavView ReadNav(const uint8_t* pack) {
    NavView v;
    v.pciLba = ReadBE32(pack, pack::kPciNavLba);
    v.dsiLba = ReadBE32(pack, pack::kDsiNavLba);
    v.vobuEnd = ReadBE32(pack, pack::kDsiVobuEnd);
    v.vobId = ReadBE16(pack, pack::kDsiVobId);
    v.cellId = pack[pack::kDsiCellId];
    v.ilvuCategory = ReadBE16(pack, pack::kDsiIlvuCategory);
    auto clear = [&](int32_t from, int32_t size) {
        for (int32_t i = 0; i < size; ++i) {
            if (pack[from + i] != 0) {
                return false;
            }
        }
        return true;
    };
    v.ilvuFieldsClear = clear(pack::kDsiIlvuCategory, pack::kDsiIlvuSize) &&
                        clear(pack::kPciNsmlAngle, pack::kPciNsmlAngleSize) &&
                        clear(pack::kDsiSmlAngle, pack::kDsiSmlAngleSize);
    v.ilvu = ReadIlvu(pack);
    return v;
}

std::string VobPath(const std::string& folder, int32_t titleSet, int32_t number) {
    char name[32];
    snprintf(name, sizeof(name), "VTS_%02d_%d.VOB", titleSet, number);
    return folder + "/" + name;
}

StreamWriter::StreamWriter(std::string folder, int32_t titleSet, int64_t packsPerFile,
                           int32_t firstNumber, int32_t step)
    : m_Folder(std::move(folder)),
      m_TitleSet(titleSet),
      m_PacksPerFile(packsPerFile),
      m_Number(firstNumber),
      m_Step(step) {}

StreamWriter::StreamWriter(std::string singleFile)
    : m_SingleFile(std::move(singleFile)), m_PacksPerFile(INT64_MAX) {}

StreamWriter::~StreamWriter() {
    Finish();
}

void StreamWriter::OpenNext() {
    std::string path;
    if (!m_SingleFile.empty()) {
        if (!m_Files.empty()) {
            throw std::runtime_error("a single-file stream cannot roll over");
        }
        path = m_SingleFile;
    } else {
        path = VobPath(m_Folder, m_TitleSet, m_Number);
        m_Number += m_Step;
    }
    m_File = fopen(path.c_str(), "wb");
    if (m_File == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    // Large sequential writes: the benchmark builds multi-GiB title sets with this.
    setvbuf(m_File, nullptr, _IOFBF, 1 << 20);
    m_Files.push_back(path);
    m_InFile = 0;
}

void StreamWriter::AddPack(const uint8_t* pack) {
    if (m_File == nullptr || m_InFile == m_PacksPerFile) {
        if (m_File != nullptr) {
            fclose(m_File);
            m_File = nullptr;
        }
        OpenNext();
    }
    if (fwrite(pack, 1, kPack, m_File) != static_cast<size_t>(kPack)) {
        throw std::runtime_error("write failed");
    }
    ++m_InFile;
    ++m_Total;
}

int64_t StreamWriter::AddVobu(uint16_t vobId, uint8_t cellId, int32_t dataPacks,
                              uint16_t ilvuCategory) {
    NavFields nav;
    nav.lba = static_cast<uint32_t>(m_Total);
    nav.vobuEnd = static_cast<uint32_t>(dataPacks);
    nav.vobId = vobId;
    nav.cellId = cellId;
    nav.ilvuCategory = ilvuCategory;
    uint8_t pack[kPack];
    MakeNavPack(pack, nav);
    return WriteVobu(pack, dataPacks);
}

int64_t StreamWriter::AddVobuEndingInBlanks(uint16_t vobId, uint8_t cellId, int32_t dataPacks,
                                            int32_t blanks) {
    NavFields nav;
    nav.lba = static_cast<uint32_t>(m_Total);
    nav.vobuEnd = static_cast<uint32_t>(dataPacks + blanks);
    nav.vobId = vobId;
    nav.cellId = cellId;
    uint8_t pack[kPack];
    MakeNavPack(pack, nav);
    const int64_t lba = WriteVobu(pack, dataPacks);
    AddBlank(blanks);
    return lba;
}

int64_t StreamWriter::AddIlvuVobu(IlvuNavFields fields, int32_t dataPacks) {
    fields.nav.lba = static_cast<uint32_t>(m_Total);
    fields.nav.vobuEnd = static_cast<uint32_t>(dataPacks);
    uint8_t pack[kPack];
    MakeIlvuNavPack(pack, fields);
    return WriteVobu(pack, dataPacks);
}

void StreamWriter::AddPreUnitCell(uint16_t vobId, int32_t count, int32_t dataPacks) {
    const int32_t first = count > kPreUnitVobus ? count - kPreUnitVobus : 0;
    for (int32_t i = 0; i < count; ++i) {
        IlvuNavFields fields;
        fields.nav.vobId = vobId;
        fields.nav.cellId = 1;
        fields.cellElapsed = CellElapsedOfVobu(i);
        if (i >= first) {
            fields.ilvu.category = pack::kIlvuPreUnit | (i == first ? pack::kIlvuUnitStart : 0) |
                                   (i + 1 == count ? pack::kIlvuUnitEnd : 0);
        }
        AddIlvuVobu(fields, dataPacks);
    }
}

InterleavedBlock StreamWriter::AddInterleavedBlock(const InterleavedBlockSpec& spec) {
    InterleavedBlock block = PlanInterleavedBlock(spec, m_Total);
    for (int32_t k = 0; k < spec.ilvus; ++k) {
        for (size_t c = 0; c < spec.vobIds.size(); ++c) {
            for (int32_t j = 0; j < spec.vobusPerIlvu; ++j) {
                IlvuNavFields fields;
                fields.nav.vobId = spec.vobIds[c];
                fields.nav.cellId = 1;
                fields.ilvu = block.fields[c][size_t(k)][size_t(j)];
                fields.cellElapsed = CellElapsedOfVobu(k * spec.vobusPerIlvu + j);
                if (AddIlvuVobu(fields, spec.dataPacks) !=
                    block.navpacks[c][size_t(k)][size_t(j)]) {
                    throw std::logic_error("the block was not laid out as planned");
                }
            }
        }
    }
    return block;
}

int64_t StreamWriter::WriteVobu(const uint8_t* navpack, int32_t dataPacks) {
    const int64_t lba = m_Total;
    AddPack(navpack);
    uint8_t pack[kPack];
    for (int32_t i = 0; i < dataPacks; ++i) {
        ++m_Mark;
        if (m_Mark == 0) {
            m_Mark = 1;
        }
        if (i % 3 == 2) {
            MakeAudioPack(pack, m_Mark);
        } else {
            MakeVideoPack(pack, m_Mark, i == 0, m_VideoHeight);
        }
        AddPack(pack);
    }
    return lba;
}

void StreamWriter::AddBlank(int32_t count) {
    uint8_t pack[kPack];
    MakeBlankPack(pack);
    for (int32_t i = 0; i < count; ++i) {
        AddPack(pack);
    }
}

void StreamWriter::NextFile() {
    if (m_File != nullptr) {
        fclose(m_File);
        m_File = nullptr;
    }
}

void StreamWriter::Finish() {
    NextFile();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::vector<uint8_t>> ReadPacks(const std::string& path) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    std::vector<std::vector<uint8_t>> packs;
    for (size_t off = 0; off + kPack <= bytes.size(); off += kPack) {
        packs.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(off),
                           bytes.begin() + static_cast<std::ptrdiff_t>(off + kPack));
    }
    return packs;
}

}  // namespace dorvex::testkit
