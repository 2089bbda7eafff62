#include "engine/RelativePointers.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/PackLayout.h"
#include "ifo/CellRecords.h"
#include "support/BigEndian.h"

namespace dorvex {
namespace {

TEST(RemovedSectors, AnswersAsAPerSectorTableWould) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        const int32_t total = 1 + static_cast<int32_t>(random() % 300);
        std::vector<bool> removed(static_cast<size_t>(total));
        CRemovedSectors map;
        for (int32_t s = 0; s < total; ++s) {
            removed[static_cast<size_t>(s)] = random() % 3 == 0;
            if (removed[static_cast<size_t>(s)]) {
                map.Remove(s);
            }
        }
        int32_t next = 0;
        for (int32_t s = 0; s < total; ++s) {
            SCOPED_TRACE(testing::Message() << "round " << round << " sector " << s);
            ASSERT_EQ(map.IsRemoved(s), removed[static_cast<size_t>(s)]);
            if (!removed[static_cast<size_t>(s)]) {
                EXPECT_EQ(map.NewSector(s), next++);
            }
            int32_t after = s;
            while (after < total && removed[static_cast<size_t>(after)]) {
                ++after;
            }
            EXPECT_EQ(map.NextKept(s), after);
            int32_t before = s;
            while (before >= 0 && removed[static_cast<size_t>(before)]) {
                --before;
            }
            EXPECT_EQ(map.PrevKept(s), before);
        }
    }
}

// A stream of 60 sectors: cell 1/1 with navpacks at 0, 10, 20; cell 1/2 at 30, 40; cell 1/3 at
// 50 (to sector 59).
class RelativePointers : public ::testing::Test {
  protected:
    const std::vector<int32_t> m_Navs = {0, 10, 20, 30, 40, 50};
    const std::vector<int32_t> m_Vcids = {PackVcid(1, 1), PackVcid(1, 1), PackVcid(1, 1),
                                          PackVcid(1, 2), PackVcid(1, 2), PackVcid(1, 3)};
    COldStreamLayout m_Layout{m_Navs.data(), m_Vcids.data(), 6, 60};
    CRemovedSectors m_Removed;
    uint8_t m_Pack[pack::kPackSize] = {};

    void Remove(int32_t first, int32_t last) {
        for (int32_t s = first; s <= last; ++s) {
            m_Removed.Remove(s);
        }
    }
    uint32_t Search(int32_t entry) const { return ReadBE32(m_Pack, pack::kDsiSearch + 4 * entry); }
    void SetSearch(int32_t entry, uint32_t value) {
        WriteBE32(m_Pack, pack::kDsiSearch + 4 * entry, value);
    }
    bool Rewrite(int32_t navIndex) {
        return RewriteRelativePointers(m_Pack, navIndex, m_Removed, m_Layout);
    }
};

TEST_F(RelativePointers, SearchPointersKeepFlagsAndFollowTheirNavpacks) {
    Remove(5, 6);    // blank packs inside the first VOBU
    Remove(13, 13);  // and inside the second
    for (int32_t i = 0; i < pack::kSearchCount; ++i) {
        SetSearch(i, pack::kSearchEndOfCell);
    }
    SetSearch(0, 0x80000000u | 10);                      // next video VOBU
    SetSearch(1, 0x80000000u | 20);                      // farthest forward entry
    SetSearch(pack::kSearchNextVobu, 0x80000000u | 10);  // next VOBU
    ASSERT_TRUE(Rewrite(0));
    EXPECT_EQ(Search(0), 0x80000000u | 8);
    EXPECT_EQ(Search(1), 0x80000000u | 17);
    EXPECT_EQ(Search(pack::kSearchNextVobu), 0x80000000u | 8);
    EXPECT_EQ(Search(2), pack::kSearchEndOfCell);  // "none" stays as it is

    // From the navpack at 20 backwards: previous VOBU (10), a backward entry (0).
    std::fill(m_Pack, m_Pack + pack::kPackSize, 0);
    SetSearch(pack::kSearchNextVobu + 1, 10);
    SetSearch(pack::kSearchNextVobu + 2, 0x40000000u | 20);
    SetSearch(pack::kSearchCount - 1, 0xBFFFFFFFu);  // previous video: end of cell, flag kept
    ASSERT_TRUE(Rewrite(2));
    EXPECT_EQ(Search(pack::kSearchNextVobu + 1), 9u);
    EXPECT_EQ(Search(pack::kSearchNextVobu + 2), 0x40000000u | 17);
    EXPECT_EQ(Search(pack::kSearchCount - 1), 0xBFFFFFFFu);
}

TEST_F(RelativePointers, APointerIntoARemovedCellBecomesEndOfCell) {
    Remove(30, 49);                                      // cell 1/2 dropped whole
    SetSearch(pack::kSearchNextVobu, 0x80000000u | 10);  // 20 -> 30, which is gone
    SetSearch(3, 0x80000000u | 30);                      // 20 -> 50, kept: 30 nearer now
    ASSERT_TRUE(Rewrite(2));
    EXPECT_EQ(Search(pack::kSearchNextVobu), 0x80000000u | pack::kSearchEndOfCell);
    EXPECT_EQ(Search(3), 0x80000000u | 10);
}

TEST_F(RelativePointers, ReferenceEndsStayInsideTheirVobu) {
    Remove(8, 9);                                // the last two packs of the first VOBU
    WriteBE32(m_Pack, pack::kDsiRefEnd, 4);      // kept: unchanged
    WriteBE32(m_Pack, pack::kDsiRefEnd + 4, 8);  // removed, nothing kept after it in the VOBU
    WriteBE32(m_Pack, pack::kDsiRefEnd + 8, 0);  // no third reference picture
    ASSERT_TRUE(Rewrite(0));
    EXPECT_EQ(ReadBE32(m_Pack, pack::kDsiRefEnd), 4u);
    EXPECT_EQ(ReadBE32(m_Pack, pack::kDsiRefEnd + 4), 7u);  // the VOBU's last kept pack
    EXPECT_EQ(ReadBE32(m_Pack, pack::kDsiRefEnd + 8), 0u);

    // A VOBU left with its navpack only has no reference picture at all.
    CRemovedSectors all;
    for (int32_t s = 1; s <= 9; ++s) {
        all.Remove(s);
    }
    WriteBE32(m_Pack, pack::kDsiRefEnd, 4);
    ASSERT_TRUE(RewriteRelativePointers(m_Pack, 0, all, m_Layout));
    EXPECT_EQ(ReadBE32(m_Pack, pack::kDsiRefEnd), 0u);
}

TEST_F(RelativePointers, SyncOffsetsFollowInEitherDirection) {
    Remove(12, 14);
    Remove(22, 23);
    // From the navpack at 20: audio 0 back to 15 (kept), audio 1 back to 13 (removed: the
    // pack before it, 11, counts), audio 2 forward to 22 (removed: the next kept one, 24),
    // sub-picture 0 back to 11.
    WriteBE16(m_Pack, pack::kDsiAudioSync, 0x8000 | 5);
    WriteBE16(m_Pack, pack::kDsiAudioSync + 2, 0x8000 | 7);
    WriteBE16(m_Pack, pack::kDsiAudioSync + 4, 2);
    WriteBE16(m_Pack, pack::kDsiAudioSync + 6, 0x3FFF);  // no pack in reach: kept as is
    WriteBE32(m_Pack, pack::kDsiSubpictureSync, 0x80000000u | 9);
    ASSERT_TRUE(Rewrite(2));
    // New positions: 11 -> 11, 15 -> 12, 20 -> 17, 24 -> 19.
    EXPECT_EQ(ReadBE16(m_Pack, pack::kDsiAudioSync), 0x8000 | 5);
    EXPECT_EQ(ReadBE16(m_Pack, pack::kDsiAudioSync + 2), 0x8000 | 6);
    EXPECT_EQ(ReadBE16(m_Pack, pack::kDsiAudioSync + 4), 2);
    EXPECT_EQ(ReadBE16(m_Pack, pack::kDsiAudioSync + 6), 0x3FFF);
    EXPECT_EQ(ReadBE32(m_Pack, pack::kDsiSubpictureSync), 0x80000000u | 6);
}

TEST_F(RelativePointers, SyncOffsetWithNothingLeftInTheCellBecomesNone) {
    Remove(51, 59);  // everything of cell 1/3 after its navpack
    WriteBE16(m_Pack, pack::kDsiAudioSync, 3);
    ASSERT_TRUE(Rewrite(5));
    EXPECT_EQ(ReadBE16(m_Pack, pack::kDsiAudioSync), 0);
}

TEST_F(RelativePointers, WithoutRemovalsNoByteChanges) {
    // Every pointer field filled with arbitrary values, some pointing outside the stream: an
    // identity map must reproduce them all.
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        for (int32_t offset = pack::kDsiRefEnd; offset < pack::kDsiRefEnd + 12; ++offset) {
            m_Pack[offset] = static_cast<uint8_t>(random());
        }
        for (int32_t i = 0; i < pack::kSearchCount; ++i) {
            SetSearch(i, (static_cast<uint32_t>(random()) & 0xC0000000u) | (random() % 70));
        }
        for (int32_t i = 0; i < pack::kAudioSyncCount; ++i) {
            WriteBE16(m_Pack, pack::kDsiAudioSync + 2 * i,
                      static_cast<uint32_t>(random() & 0x8000) | (random() % 70));
        }
        for (int32_t i = 0; i < pack::kSubpictureSyncCount; ++i) {
            WriteBE32(m_Pack, pack::kDsiSubpictureSync + 4 * i,
                      static_cast<uint32_t>(random() & 0x80000000u) | (random() % 70));
        }
        const std::vector<uint8_t> before(m_Pack, m_Pack + pack::kPackSize);
        EXPECT_FALSE(Rewrite(static_cast<int32_t>(random() % 6)));
        EXPECT_EQ(std::vector<uint8_t>(m_Pack, m_Pack + pack::kPackSize), before);
    }
}

TEST_F(RelativePointers, OnlyPointerFieldsAreTouched) {
    Remove(2, 4);
    for (int32_t i = 0; i < pack::kPackSize; ++i) {
        m_Pack[i] = static_cast<uint8_t>(i * 7);
    }
    std::vector<uint8_t> before(m_Pack, m_Pack + pack::kPackSize);
    Rewrite(0);
    for (int32_t i = 0; i < pack::kPackSize; ++i) {
        const bool pointer = (i >= pack::kDsiRefEnd && i < pack::kDsiRefEnd + 12) ||
                             (i >= pack::kDsiSearch && i < pack::kDsiSubpictureSync + 128);
        if (!pointer) {
            ASSERT_EQ(m_Pack[i], before[static_cast<size_t>(i)]) << "byte " << i;
        }
    }
}

}  // namespace
}  // namespace dorvex
