// The navpack model against the DVD-Video layout: each field a run may change is found where the
// format puts it (byte positions written out here from the PCI and DSI layouts, not taken from
// the program's tables), and every byte outside those fields counts as "other".
#include "engine/Navpack.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/StreamBuilder.h"

namespace dorvex::testkit {
namespace {

using navpack::Field;

struct FieldAt {
    Field field;
    std::vector<int32_t> bytes;  // first and last byte of each of the field's ranges
};

// PCI_GI starts at 45 (PCI packet at 38, header 6, substream 1); DSI_GI at 1031; SML_PBI at
// 1063, SML_AGLI at 1211, VOBU_SRI at 1265, SYNCI at 1433; NSML_AGLI at 105 in the PCI.
const FieldAt kFields[] = {
    {Field::Lba, {45, 48, 1035, 1038}},
    {Field::VobuEnd, {1039, 1042}},
    {Field::RefEnds, {1043, 1054}},
    {Field::VobId, {1055, 1056}},
    {Field::CellId, {1058}},
    {Field::IlvuAngle, {1063, 1074, 105, 140, 1211, 1264}},
    {Field::SearchPointers, {1265, 1432}},
    {Field::AudioSync, {1433, 1448}},
    {Field::SubpictureSync, {1449, 1576}},
};

std::vector<uint8_t> Navpack() {
    std::vector<uint8_t> pack(kPack);
    MakeNavPack(pack.data(), NavFields{});
    return pack;
}

TEST(Navpack, EachFieldIsWhereTheFormatPutsItAndNothingElseCountsAsIt) {
    const std::vector<uint8_t> before = Navpack();
    for (const FieldAt& at : kFields) {
        for (const int32_t byte : at.bytes) {
            std::vector<uint8_t> after = before;
            after[static_cast<size_t>(byte)] ^= 0xFF;
            EXPECT_EQ(navpack::ChangedFields(before.data(), after.data()),
                      navpack::FieldBit(at.field))
                << navpack::FieldName(at.field) << " at byte " << byte;
        }
    }
    // Just outside the fields: the PCI's highlight data, the byte between VOB and cell ID, the
    // DSI after the sync offsets.
    for (const int32_t byte : {100, 1057, 1577, 2047}) {
        std::vector<uint8_t> after = before;
        after[static_cast<size_t>(byte)] ^= 0xFF;
        EXPECT_EQ(navpack::ChangedFields(before.data(), after.data()),
                  navpack::FieldBit(Field::Other))
            << "byte " << byte;
    }
    EXPECT_EQ(navpack::ChangedFields(before.data(), before.data()), 0u);
}

TEST(Navpack, ClearingTheIlvuAndAngleFieldTouchesItsRangesOnly) {
    std::vector<uint8_t> pack(kPack, 0xA5);
    navpack::ClearField(pack.data(), Field::IlvuAngle);
    for (int32_t byte = 0; byte < kPack; ++byte) {
        const bool inField = (byte >= 1063 && byte <= 1074) || (byte >= 105 && byte <= 140) ||
                             (byte >= 1211 && byte <= 1264);
        ASSERT_EQ(pack[static_cast<size_t>(byte)], inField ? 0 : 0xA5) << "byte " << byte;
    }
}

TEST(Navpack, ANavpackHasPrivateStream2AtBothThePciAndTheDsi) {
    std::vector<uint8_t> pack = Navpack();
    EXPECT_TRUE(navpack::IsNavpack(pack.data()));
    for (const int32_t marker : {38 + 3, 1024 + 3}) {
        std::vector<uint8_t> broken = pack;
        broken[static_cast<size_t>(marker)] = 0xBD;
        EXPECT_FALSE(navpack::IsNavpack(broken.data())) << "marker at " << marker;
    }
    std::vector<uint8_t> video(kPack);
    MakeVideoPack(video.data(), 7, true);
    EXPECT_FALSE(navpack::IsNavpack(video.data()));
}

}  // namespace
}  // namespace dorvex::testkit
