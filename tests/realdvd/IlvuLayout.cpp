#include "IlvuLayout.h"

#include <dvdread/nav_read.h>
#include <dvdread/nav_types.h>

#include <cstring>

namespace dorvex::ilvu {

namespace {

constexpr size_t kSector = 2048;
// A navpack: the PCI packet at 38 and the DSI packet at 1024, each a private stream 2 packet;
// libdvdread's readers take their data after the packet header and substream byte.
constexpr size_t kPciPacket = 38;
constexpr size_t kDsiPacket = 1024;
constexpr size_t kPciData = 45;
constexpr size_t kDsiData = 1031;
constexpr uint32_t kPrivateStream2 = 0x000001BF;

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

int64_t Frames(const dvd_time_t& time) {
    auto bcd = [](uint8_t v) { return int64_t((v >> 4) * 10 + (v & 15)); };
    const int64_t rate = (time.frame_u & 0xC0) == 0x40 ? 25 : 30;
    return ((bcd(time.hour) * 60 + bcd(time.minute)) * 60 + bcd(time.second)) * rate +
           bcd(time.frame_u & 0x3F);
}

Fields FieldsOf(const pci_t& pci, const dsi_t& dsi) {
    Fields f;
    f.category = dsi.sml_pbi.category;
    f.ilvuEnd = dsi.sml_pbi.ilvu_ea;
    f.nextStart = dsi.sml_pbi.ilvu_sa;
    f.nextSize = dsi.sml_pbi.size;
    for (int n = 0; n < kAngles; ++n) {
        f.smlAddress[n] = dsi.sml_agli.data[n].address;
        f.smlSize[n] = dsi.sml_agli.data[n].size;
        f.nsml[n] = pci.nsml_agli.nsml_agl_dsta[n];
    }
    return f;
}

}  // namespace

std::vector<Navpack> ReadNavpacks(const uint8_t* stream, uint32_t sectors) {
    std::vector<Navpack> navpacks;
    std::vector<uint8_t> pack(kSector);
    for (uint32_t s = 0; s < sectors; ++s) {
        const uint8_t* p = stream + size_t(s) * kSector;
        if (Be32(p + kPciPacket) != kPrivateStream2 || Be32(p + kDsiPacket) != kPrivateStream2) {
            continue;
        }
        // libdvdread's readers take a writable buffer.
        memcpy(pack.data(), p, kSector);
        pci_t pci;
        dsi_t dsi;
        navRead_PCI(&pci, pack.data() + kPciData);
        navRead_DSI(&dsi, pack.data() + kDsiData);
        navpacks.push_back({s,
                            {dsi.dsi_gi.vobu_vob_idn, dsi.dsi_gi.vobu_c_idn},
                            Frames(dsi.dsi_gi.c_eltm),
                            FieldsOf(pci, dsi)});
    }
    return navpacks;
}

}  // namespace dorvex::ilvu
