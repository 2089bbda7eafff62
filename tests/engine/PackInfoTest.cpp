#include "engine/PackInfo.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "engine/PackLayout.h"
#include "support/BigEndian.h"
#include "support/Sinks.h"

namespace dorvex {
namespace {

using Pack = std::array<uint8_t, pack::kPackSize>;

Pack PackWithCode(uint32_t code) {
    Pack p{};
    WriteBE32(p.data(), 0, 0x000001BA);
    WriteBE32(p.data(), pack::kFirstPacketCode, code);
    return p;
}

Pack PrivateStream1(uint8_t substream, uint8_t headerDataLength = 5) {
    Pack p = PackWithCode(pack::kCodePrivate1);
    p[pack::kPesHeaderDataLength] = headerDataLength;
    p[pack::kPesPayloadBase + headerDataLength] = substream;
    return p;
}

void MakeNav(Pack& p, uint16_t vobId, uint8_t cellId) {
    WriteBE32(p.data(), pack::kPciPacket, pack::kCodePrivate2);
    WriteBE32(p.data(), pack::kDsiPacket, pack::kCodePrivate2);
    WriteBE16(p.data(), pack::kDsiVobId, vobId);
    p[pack::kDsiCellId] = cellId;
    p[pack::kPciButtonCount] = 3;
}

// A video pack whose payload holds an optional sequence header and an optional picture start.
Pack VideoPack(int verticalSize, bool withPicture, bool withSequence = true) {
    Pack p = PackWithCode(pack::kCodeVideo0);
    p[pack::kPesHeaderDataLength] = 10;
    int32_t pos = pack::kPesPayloadBase + 10;
    if (withSequence) {
        WriteBE32(p.data(), pos, pack::kCodeSequenceHeader);
        WriteBE32(p.data(), pos + 4,
                  (720u << 20) | (static_cast<uint32_t>(verticalSize) << 8) | 0x33);
        pos += 12;
    }
    if (withPicture) {
        WriteBE32(p.data(), pos, pack::kCodePictureStart);
        p[pos + 5] = 1 << 3;  // I picture
    }
    return p;
}

struct Classified {
    int32_t type;
    uint16_t vobId;
    uint8_t cellId;
    uint8_t substream;
};

Classified ClassifyPack(const Pack& p, uint16_t vobId = 7, uint8_t cellId = 9) {
    CPackInfo info;
    info.Clear();
    info.Classify(p.data(), vobId, cellId);
    return {info.m_nType, vobId, cellId, info.m_nSubstream};
}

TEST(Classify, FirstPacketDecidesVideoBlankPadding) {
    Pack zeros{};
    EXPECT_EQ(ClassifyPack(zeros).type, PackBlank);
    EXPECT_EQ(ClassifyPack(PackWithCode(pack::kCodeVideo0)).type, PackVideo);
    EXPECT_EQ(ClassifyPack(PackWithCode(pack::kCodePadding)).type, PackPadding);
    EXPECT_EQ(ClassifyPack(PackWithCode(0x000001C0)).type, PackOther);  // MPEG audio
    EXPECT_EQ(ClassifyPack(PackWithCode(0x000001E1)).type, PackOther);  // second video stream
}

TEST(Classify, SubstreamRangeBoundsAreInclusive) {
    for (uint8_t s : {0x20, 0x3F}) {
        EXPECT_EQ(ClassifyPack(PrivateStream1(s)).type, PackSubpicture) << int(s);
    }
    for (uint8_t s : {0x80, 0x87, 0xA0, 0xA7}) {
        EXPECT_EQ(ClassifyPack(PrivateStream1(s)).type, PackAudio) << int(s);
    }
    for (uint8_t s : {0x1F, 0x40, 0x7F, 0x88, 0x8F, 0x9F, 0xA8}) {
        Classified c = ClassifyPack(PrivateStream1(s));
        EXPECT_EQ(c.type, PackOther) << int(s);
        EXPECT_EQ(c.substream, s);
    }
    // The substream byte follows the PES header data, whatever its length.
    EXPECT_EQ(ClassifyPack(PrivateStream1(0x81, 0)).type, PackAudio);
    EXPECT_EQ(ClassifyPack(PrivateStream1(0x81, 255)).type, PackAudio);
}

TEST(Classify, NavpackNeedsBothPrivateStream2Packets) {
    Pack nav = PackWithCode(0x000001BB);
    MakeNav(nav, 0x0102, 4);
    Classified c = ClassifyPack(nav);
    EXPECT_EQ(c.type, PackNav);
    EXPECT_EQ(c.vobId, 0x0102);  // all 16 bits
    EXPECT_EQ(c.cellId, 4);

    Pack halfNav = PackWithCode(0x000001BB);
    WriteBE32(halfNav.data(), pack::kPciPacket, pack::kCodePrivate2);
    c = ClassifyPack(halfNav);
    EXPECT_EQ(c.type, PackOther);
    EXPECT_EQ(c.vobId, 7);  // untouched
    EXPECT_EQ(c.cellId, 9);

    // A DTS pack that also carries navpack codes falls through to the navpack test.
    Pack dtsNav = PrivateStream1(0x88);
    MakeNav(dtsNav, 3, 1);
    EXPECT_EQ(ClassifyPack(dtsNav).type, PackNav);
    // An audio pack never becomes a navpack, and leaves the caller's VCID alone.
    Pack audioNav = PrivateStream1(0x80);
    MakeNav(audioNav, 3, 1);
    c = ClassifyPack(audioNav);
    EXPECT_EQ(c.type, PackAudio);
    EXPECT_EQ(c.vobId, 7);
}

class VideoStandard : public ::testing::Test {
  protected:
    void SetUp() override {
        g_nVideoStandard = kStandardUnknown;
        s_Lines.clear();
    }
    void TearDown() override { g_nVideoStandard = kStandardUnknown; }
    static int32_t Detect(int vertical) {
        g_nVideoStandard = kStandardUnknown;
        CPackInfo info;
        Pack p = VideoPack(vertical, true);
        info.DetectVideoStandard(p.data());
        return g_nVideoStandard;
    }

    static void Record(char* text, int32_t level) {
        s_Lines.push_back(std::to_string(level) + ":" + text);
    }

    static std::vector<std::string> s_Lines;
    ScopedSinks m_Sinks{Record, nullptr};
};
std::vector<std::string> VideoStandard::s_Lines;

TEST_F(VideoStandard, VerticalSizeDecides) {
    EXPECT_EQ(Detect(576), kStandardPal);
    EXPECT_EQ(Detect(480), kStandardNtsc);
    EXPECT_EQ(Detect(240), kStandardNtsc);
    EXPECT_EQ(Detect(288), kStandardPal);
    EXPECT_EQ(Detect(1080), kStandardPal);
}

TEST_F(VideoStandard, NeedsAPictureStartAndLogsTwoLevels) {
    CPackInfo info;
    Pack noPicture = VideoPack(480, false);
    info.DetectVideoStandard(noPicture.data());
    EXPECT_EQ(g_nVideoStandard, kStandardUnknown);
    EXPECT_EQ(info.m_nPictureType, 0);
    EXPECT_TRUE(s_Lines.empty());

    Pack good = VideoPack(480, true);
    info.DetectVideoStandard(good.data());
    EXPECT_EQ(g_nVideoStandard, kStandardNtsc);
    EXPECT_EQ(info.m_nPictureType, 1);
    ASSERT_EQ(s_Lines.size(), 2u);
    EXPECT_EQ(s_Lines[0], "0:Found Video Format: NTSC\n");
    EXPECT_EQ(s_Lines[1], "1:Format Video: NTSC\n");

    // Once known, later headers only report their picture type.
    Pack pal = VideoPack(576, true);
    info.DetectVideoStandard(pal.data());
    EXPECT_EQ(g_nVideoStandard, kStandardNtsc);
    EXPECT_EQ(s_Lines.size(), 2u);
}

TEST_F(VideoStandard, PictureWithoutSequenceHeaderLeavesItUnknown) {
    CPackInfo info;
    Pack p = VideoPack(576, true, false);
    info.DetectVideoStandard(p.data());
    EXPECT_EQ(info.m_nPictureType, 1);
    EXPECT_EQ(g_nVideoStandard, kStandardUnknown);
}

TEST_F(VideoStandard, StartCodesMustFitInsideThePack) {
    CPackInfo info;
    Pack p = PackWithCode(pack::kCodeVideo0);
    p[pack::kPesHeaderDataLength] = 0;
    // A picture start code whose trailing bytes would run off the end does not count.
    WriteBE32(p.data(), pack::kPackSize - 5, pack::kCodePictureStart);
    info.DetectVideoStandard(p.data());
    EXPECT_EQ(info.m_nPictureType, 0);
}

}  // namespace
}  // namespace dorvex
