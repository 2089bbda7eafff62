#include <gtest/gtest.h>

#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <set>
#include <thread>

#include "EngineFixture.h"
#include "support/Fingerprint.h"
#include "support/Paths.h"

namespace dorvex::testkit {
namespace {

class VobIo : public EngineTest {
  protected:
    // A file of `packs` packs, pack i filled with (i % 251) + 1, plus `tail` extra bytes.
    std::string MakeFile(int32_t packs, int32_t tail = 0) {
        std::vector<uint8_t> bytes(static_cast<size_t>(packs) * kPack + static_cast<size_t>(tail));
        for (int32_t i = 0; i < packs; ++i) {
            memset(bytes.data() + static_cast<size_t>(i) * kPack, i % 251 + 1, kPack);
        }
        memset(bytes.data() + static_cast<size_t>(packs) * kPack, 0xEE, static_cast<size_t>(tail));
        std::string path = m_Dir + "/data.VOB";
        WriteBytes(path, bytes);
        return path;
    }
    // Moves the packs of `path` down in place, dropping some and rewriting others, as a pass
    // does, and checks every pack where it landed.
    void MoveDownAndCheck(const std::string& path, VobWriteObserver* observer);
    // Every pack of `path` whose write the file system was told it may take to the disk.
    void WatchWriteBack(const std::string& path) {
        m_FileSystem.SetWriteBackWatch(
            [this, path](const std::string& file, int64_t offset, int64_t size) {
                for (int64_t pack = offset / kPack; file == path && pack * kPack < offset + size;
                     ++pack) {
                    m_HandedToWriteBack.insert(pack);
                }
            });
    }
    // The whole file's packs were handed to write-back as they went out (not left for the
    // final flush to write all at once).
    void ExpectAllHandedToWriteBack(int64_t packs) {
        for (int64_t pack = 0; pack < packs; ++pack) {
            ASSERT_TRUE(m_HandedToWriteBack.count(pack) != 0) << "pack " << pack;
        }
    }
    uint8_t m_Pack[kPack] = {};
    std::set<int64_t> m_HandedToWriteBack;
    int64_t m_RangesHandedOn = 0;  // by the file MoveDownAndCheck moved
};

TEST_F(VobIo, ReadsPacksInOrderThenThePartialTailThenEnd) {
    std::string path = MakeFile(1500, 1000);  // crosses one read-ahead refill
    CVobFile file(m_FileSystem);
    ASSERT_TRUE(file.Open(path, OpenMode::Read));
    for (int32_t i = 0; i < 1500; ++i) {
        ASSERT_EQ(file.ReadNext(m_Pack), kPack) << i;
        ASSERT_EQ(m_Pack[0], i % 251 + 1) << i;
        ASSERT_EQ(m_Pack[kPack - 1], i % 251 + 1) << i;
    }
    EXPECT_EQ(file.ReadNext(m_Pack), 1000);
    EXPECT_EQ(m_Pack[999], 0xEE);
    EXPECT_EQ(file.ReadNext(m_Pack), 0);
    EXPECT_TRUE(file.Close());
}

// A file opened to be read only has its next stretch read on another thread while the caller
// is still on the one before; every pack still comes in order.
TEST_F(VobIo, AFileOpenedToReadIsReadAStretchAheadOnAnotherThread) {
    std::string path = MakeFile(1500);
    std::atomic<bool> readAhead{false};
    m_FileSystem.SetRule([&readAhead, caller = std::this_thread::get_id()](
                             FileOp op, const std::string&, int64_t sector) {
        if (op == FileOp::Read && sector == 512 && std::this_thread::get_id() != caller) {
            readAhead = true;
        }
        return true;
    });
    CVobFile file(m_FileSystem);
    ASSERT_TRUE(file.Open(path, OpenMode::Read));
    ASSERT_EQ(file.ReadNext(m_Pack), kPack);
    for (int waited = 0; waited < 10000 && !readAhead; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(readAhead) << "the second stretch was not read while the caller was on the first";
    for (int32_t i = 1; i < 1500; ++i) {
        ASSERT_EQ(file.ReadNext(m_Pack), kPack) << i;
        ASSERT_EQ(m_Pack[kPack - 1], i % 251 + 1) << i;
    }
    EXPECT_EQ(file.ReadNext(m_Pack), 0);
    EXPECT_TRUE(file.Close());
}

// Jumps of the read cursor and a failed read give the same packs and the same failure, at the
// same pack, whether or not the file is read ahead.
TEST_F(VobIo, JumpsAndFailedReadsGiveTheSameWhetherOrNotTheFileIsReadAhead) {
    std::string path = MakeFile(2100);
    struct Step {
        int64_t jumpTo;  // -1: go on from where the cursor is
        int32_t packs;
    };
    const Step steps[] = {{-1, 10}, {1000, 600}, {5, 3}, {1024, 1}, {1536, 513}, {-1, 51}};
    for (const bool ahead : {true, false}) {
        SCOPED_TRACE(ahead ? "read ahead" : "read when asked");
        m_FileSystem.SetReadsFromAnyThread(ahead);
        m_FileSystem.SetRule(nullptr);
        CVobFile file(m_FileSystem);
        ASSERT_TRUE(file.Open(path, OpenMode::Read));
        for (const Step& step : steps) {
            if (step.jumpTo >= 0) {
                file.SetReadCursor(step.jumpTo);
            }
            for (int32_t i = 0; i < step.packs; ++i) {
                const int64_t sector = file.ReadCursor();
                ASSERT_EQ(file.ReadNext(m_Pack), kPack) << sector;
                ASSERT_EQ(m_Pack[0], sector % 251 + 1) << sector;
            }
        }
        EXPECT_EQ(file.ReadNext(m_Pack), 0);
        for (const int64_t failing : {512, 1024, 1500}) {
            m_FileSystem.SetRule([failing](FileOp op, const std::string&, int64_t sector) {
                return !(op == FileOp::Read && sector <= failing && failing < sector + 512);
            });
            ASSERT_TRUE(file.Open(path, OpenMode::Read));
            int64_t served = 0;
            while (file.ReadNext(m_Pack) == kPack) {
                ++served;
            }
            EXPECT_EQ(served, failing / 512 * 512) << failing;
            EXPECT_EQ(file.LastError(), strerror(EIO)) << failing;
        }
    }
    m_FileSystem.SetReadsFromAnyThread(true);
}

TEST_F(VobIo, CopiedAndWrittenPacksLandInOrderAndReadBackWhilePending) {
    std::string source = MakeFile(600);
    CVobFile in(m_FileSystem);
    ASSERT_TRUE(in.Open(source, OpenMode::Read));
    CVobFile out(m_FileSystem);
    ASSERT_TRUE(out.Open(m_Dir + "/out.VOB", OpenMode::Create));
    // Output: pack 0 written from memory, packs 1..299 copied from 1..299, 300 skipped, packs
    // 301..599 copied to 300..598, with a write into the middle of the copied run afterwards.
    memset(m_Pack, 0xAB, kPack);
    ASSERT_TRUE(out.WriteAt(0, m_Pack));
    for (int64_t i = 1; i < 300; ++i) {
        ASSERT_TRUE(out.CopyPackFrom(in, i, i));
    }
    for (int64_t i = 301; i < 600; ++i) {
        ASSERT_TRUE(out.CopyPackFrom(in, i, i - 1));
    }
    ASSERT_TRUE(out.ReadAt(450, m_Pack));  // still pending: the copy is made first
    EXPECT_EQ(m_Pack[0], 451 % 251 + 1);
    memset(m_Pack, 0xCD, kPack);
    ASSERT_TRUE(out.WriteAt(10, m_Pack));
    ASSERT_TRUE(out.Close());

    auto packs = ReadPacks(m_Dir + "/out.VOB");
    ASSERT_EQ(packs.size(), 599u);
    EXPECT_EQ(packs[0][0], 0xAB);
    EXPECT_EQ(packs[10][0], 0xCD);
    EXPECT_EQ(packs[299][0], 299 % 251 + 1);
    EXPECT_EQ(packs[300][kPack - 1], 301 % 251 + 1);
    EXPECT_EQ(packs[598][0], 599 % 251 + 1);
}

// The pass reads each pack through the source's read-ahead buffer and copies the kept ones on:
// runs are written from that buffer while it still holds them, and from the file once it has
// moved on (a run left pending across a refill). Both must give the same bytes.
TEST_F(VobIo, PacksCopiedWhileReadingLandInOrderAcrossRefillsAndRemovals) {
    std::string source = MakeFile(1700, 300);
    CVobFile in(m_FileSystem);
    ASSERT_TRUE(in.Open(source, OpenMode::Read));
    CVobFile out(m_FileSystem);
    ASSERT_TRUE(out.Open(m_Dir + "/out.VOB", OpenMode::Create));
    WatchWriteBack(m_Dir + "/out.VOB");
    // Dropped: one pack (the output then lies half a page off the input), the last pack of the
    // first buffer (the run before it stays pending over the refill), a long stretch across
    // the second refill. Every 97th kept pack is written from memory instead, as a navpack is.
    auto dropped = [](int64_t i) { return i == 3 || i == 511 || (i >= 1000 && i < 1100); };
    std::vector<int64_t> expected;
    int64_t written = 0;
    const uint8_t* view = nullptr;
    for (int64_t i = 0; in.ReadNextView(view) == kPack; ++i) {
        if (dropped(i)) {
            continue;
        }
        if (i % 97 == 0) {
            memcpy(m_Pack, view, kPack);
            ASSERT_TRUE(out.WriteAt(written, m_Pack));
        } else {
            ASSERT_TRUE(out.CopyPackFrom(in, i, written));
        }
        expected.push_back(i);
        ++written;
    }
    ASSERT_TRUE(out.Close());
    ASSERT_TRUE(in.Close());
    // Not asked to: a new file's writes are left to the kernel.
    EXPECT_TRUE(m_HandedToWriteBack.empty());

    auto packs = ReadPacks(m_Dir + "/out.VOB");
    ASSERT_EQ(packs.size(), expected.size());
    for (size_t j = 0; j < packs.size(); ++j) {
        const int value = static_cast<int>(expected[j] % 251 + 1);
        ASSERT_EQ(packs[j][0], value) << j;
        ASSERT_EQ(packs[j][kPack - 1], value) << j;
    }
}

TEST_F(VobIo, AFailedCopyIsReportedWhenItIsMade) {
    std::string source = MakeFile(20);
    CVobFile in(m_FileSystem);
    ASSERT_TRUE(in.Open(source, OpenMode::Read));
    CVobFile out(m_FileSystem);
    ASSERT_TRUE(out.Open(m_Dir + "/out.VOB", OpenMode::Create));
    m_FileSystem.SetRule(
        [](FileOp op, const std::string&, int64_t) { return op != FileOp::Write; });
    for (int64_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(out.CopyPackFrom(in, i, i));
    }
    EXPECT_FALSE(out.Close());
    EXPECT_FALSE(out.LastError().empty());
}

TEST_F(VobIo, MovingEveryPackDownInPlaceThenCuttingKeepsTheStreamIntact) {
    std::string path = MakeFile(3000);
    CVobFile file(m_FileSystem);
    ASSERT_TRUE(file.Open(path, OpenMode::Update));
    // Drop every fifth pack, writing each kept pack right behind the reads.
    int64_t written = 0;
    for (int32_t i = 0; file.ReadNext(m_Pack) == kPack; ++i) {
        if (i % 5 == 4) {
            continue;
        }
        ASSERT_TRUE(file.WriteAt(written++, m_Pack));
    }
    ASSERT_TRUE(file.TruncateTo(written));
    ASSERT_TRUE(file.Close());

    auto packs = ReadPacks(path);
    ASSERT_EQ(static_cast<int64_t>(packs.size()), written);
    EXPECT_EQ(ReadBytes(path).size(), static_cast<size_t>(written) * kPack);
    for (size_t j = 0; j < packs.size(); ++j) {
        int32_t original = static_cast<int32_t>(j / 4 * 5 + j % 4);
        ASSERT_EQ(packs[j][0], original % 251 + 1) << j;
    }
}

// In place the pass copies a moved pack from the read-ahead buffer to its earlier position in
// the same file, writes navpacks from memory between those runs and patches the previous
// navpack once the next one is known; runs cross refills and files end on a cut.
// Sees each batch as it goes out; asks for long batches when `longBatches`, and checks that
// each copied pack then comes with the fingerprint of the pack it copies.
class BatchWatch final : public VobWriteObserver {
  public:
    BatchWatch(bool longBatches, std::vector<uint8_t> original)
        : m_Long(longBatches), m_Original(std::move(original)) {}
    BatchPlan BatchStarts(CVobFile&, int64_t) override { return {0, m_Long}; }
    bool BeforeVobWrite(CVobFile&, const PendingVobWrite& write) override {
        ++batches;
        for (const WritePiece& piece : write) {
            if (piece.from < 0) {
                continue;
            }
            for (int64_t i = 0; i < piece.packs; ++i) {
                const uint8_t* source = m_Original.data() + (piece.from + i) * kPack;
                if (m_Long && (piece.fingerprints == nullptr ||
                               piece.fingerprints[i] != Fingerprint(source, kPack))) {
                    ++wrongFingerprints;
                }
            }
        }
        return true;
    }
    bool BeforeVobTruncate(CVobFile&, int64_t) override { return true; }

    int32_t batches = 0;
    int32_t wrongFingerprints = 0;

  private:
    bool m_Long;
    std::vector<uint8_t> m_Original;
};

// In short batches each goes out while the read-ahead buffer holds its copies; in long ones the
// copies wait for the batch (across refills) and are made again from the file: by the kernel, in
// steps of the distance they move (never onto what a later step reads, which the kernel refuses),
// and through memory where that distance is short.
TEST_F(VobIo, MovingPacksDownInPlaceFromTheReadBufferKeepsTheStreamIntact) {
    const KernelCopyFault asAsked{INT64_MAX, INT32_MAX, 0};
    for (const bool longBatches : {false, true}) {
        SCOPED_TRACE(longBatches ? "long batches" : "short batches");
        std::string path = MakeFile(3000, 700);
        BatchWatch watch(longBatches, ReadBytes(path));
        m_FileSystem.SetKernelCopyFault(asAsked);
        MoveDownAndCheck(path, &watch);
        EXPECT_EQ(watch.wrongFingerprints, 0);
        EXPECT_EQ(m_FileSystem.OverlappingKernelCopies(), 0);
        // One long batch holds the whole move; short ones go out as the read buffer refills.
        if (longBatches) {
            EXPECT_EQ(watch.batches, 1);
            // ... handed to the disk while it goes out, every 4 MiB, not once at its end.
            EXPECT_GE(m_RangesHandedOn, 2);
            // Past the stretch dropped the packs move by 102, far enough for the kernel: at
            // least one call for each of the nine runs between navpacks there, each longer than
            // the distance (through memory, none of them would be).
            EXPECT_GE(m_FileSystem.KernelCopyCalls(), 9);
        } else {
            EXPECT_GE(watch.batches, 4);
        }
    }
    m_FileSystem.SetKernelCopyFault(std::nullopt);
}

void VobIo::MoveDownAndCheck(const std::string& path, VobWriteObserver* observer) {
    CVobFile file(m_FileSystem);
    ASSERT_TRUE(file.Open(path, OpenMode::Update));
    file.SetWriteObserver(observer);
    file.HandWritesToDiskAtOnce();
    m_HandedToWriteBack.clear();
    WatchWriteBack(path);
    // Dropped: the first pack (every later pack moves, an odd count off), the last pack of the
    // first read-ahead buffer, and a stretch across the third refill.
    auto dropped = [](int64_t i) { return i == 0 || i == 511 || (i >= 1500 && i < 1600); };
    std::vector<int64_t> expected;
    int64_t written = 0;
    int64_t previousNav = -1;
    const uint8_t* view = nullptr;
    for (int64_t i = 0; file.ReadNextView(view) == kPack; ++i) {
        if (dropped(i)) {
            continue;
        }
        if (i % 150 == 7) {
            if (previousNav >= 0) {
                uint8_t back[kPack];
                ASSERT_TRUE(file.ReadAt(previousNav, back));
                back[1] = 0xF0;
                ASSERT_TRUE(file.WriteAt(previousNav, back));
            }
            memcpy(m_Pack, view, kPack);
            m_Pack[2] = 0xE0;
            ASSERT_TRUE(file.WriteAt(written, m_Pack));
            previousNav = written;
        } else {
            ASSERT_TRUE(file.CopyPackFrom(file, i, written));
        }
        expected.push_back(i);
        ++written;
    }
    ASSERT_TRUE(file.TruncateTo(written));
    m_RangesHandedOn = file.RangesHandedOn();
    ASSERT_TRUE(file.Close());
    ExpectAllHandedToWriteBack(written);

    EXPECT_EQ(ReadBytes(path).size(), static_cast<size_t>(written) * kPack);
    auto packs = ReadPacks(path);
    ASSERT_EQ(packs.size(), expected.size());
    for (size_t j = 0; j < packs.size(); ++j) {
        const int value = static_cast<int>(expected[j] % 251 + 1);
        const bool nav = expected[j] % 150 == 7;
        const bool patched = nav && static_cast<int64_t>(j) != previousNav;
        ASSERT_EQ(packs[j][0], value) << j;
        ASSERT_EQ(packs[j][1], patched ? 0xF0 : value) << j;
        ASSERT_EQ(packs[j][2], nav ? 0xE0 : value) << j;
        ASSERT_EQ(packs[j][kPack - 1], value) << j;
    }
}

// A buffer sized for the worst case costs memory only for the pages a run writes; one always
// filled whole is given all of its pages at once. Either reads zeros.
TEST(PageBuffer, TakesItsPagesAsAskedAndReadsZeros) {
    constexpr size_t kSize = 4 << 20;
    constexpr size_t kPage = 4096;
    for (const auto pages : {PageBuffer::Pages::OnFirstUse, PageBuffer::Pages::AtOnce}) {
        const bool atOnce = pages == PageBuffer::Pages::AtOnce;
        SCOPED_TRACE(atOnce ? "at once" : "on first use");
        PageBuffer buffer;
        buffer.resize(kSize, pages);
        buffer.data()[0] = 1;
        buffer.data()[3 * kPage + 5] = 2;
        std::vector<unsigned char> resident(kSize / kPage);
        ASSERT_EQ(mincore(buffer.data(), kSize, resident.data()), 0);
        int32_t given = 0;
        for (unsigned char page : resident) {
            given += page & 1;
        }
        EXPECT_EQ(given, atOnce ? static_cast<int32_t>(kSize / kPage) : 2);
        EXPECT_EQ(buffer.data()[kPage], 0);
        EXPECT_EQ(buffer.data()[kSize - 1], 0);
    }
}

TEST_F(VobIo, ReadBackSeesBufferedWritesAndLaterWritesPatchThem) {
    std::string path = m_Dir + "/out.VOB";
    CVobFile file(m_FileSystem);
    ASSERT_TRUE(file.Open(path, OpenMode::Create));
    for (int32_t i = 0; i < 10; ++i) {
        memset(m_Pack, 0x10 + i, kPack);
        ASSERT_TRUE(file.WriteAt(i, m_Pack));
    }
    EXPECT_EQ(ReadBytes(path).size(), 0u);  // still buffered
    uint8_t back[kPack];
    ASSERT_TRUE(file.ReadAt(3, back));
    EXPECT_EQ(back[100], 0x13);
    back[100] = 0x99;
    ASSERT_TRUE(file.WriteAt(3, back));
    ASSERT_TRUE(file.Flush());
    // Once on disk a read-back comes from the file, and a patch lands there.
    ASSERT_TRUE(file.ReadAt(3, back));
    EXPECT_EQ(back[100], 0x99);
    back[7] = 0x42;
    ASSERT_TRUE(file.WriteAt(3, back));
    memset(m_Pack, 0x30, kPack);
    ASSERT_TRUE(file.WriteAt(10, m_Pack));
    ASSERT_TRUE(file.Close());

    auto packs = ReadPacks(path);
    ASSERT_EQ(packs.size(), 11u);
    EXPECT_EQ(packs[3][100], 0x99);
    EXPECT_EQ(packs[3][7], 0x42);
    EXPECT_EQ(packs[9][0], 0x19);
    EXPECT_EQ(packs[10][0], 0x30);
}

TEST_F(VobIo, ReadAtPastTheEndFails) {
    std::string path = MakeFile(2);
    CVobFile file(m_FileSystem);
    ASSERT_TRUE(file.Open(path, OpenMode::Update));
    EXPECT_FALSE(file.ReadAt(5, m_Pack));
    EXPECT_TRUE(file.ReadAt(1, m_Pack));
}

// Writes are buffered: a failed write shows when the buffer goes out, at the latest on Close.
TEST_F(VobIo, AFailingFileSystemCallFailsTheOperationThatNeedsItWithItsError) {
    std::string path = MakeFile(4);
    m_FileSystem.SetRule([](FileOp op, const std::string&, int64_t sector) {
        return !(op == FileOp::Write && sector == 1);
    });
    CVobFile file(m_FileSystem);
    ASSERT_TRUE(file.Open(path, OpenMode::Update));
    EXPECT_TRUE(file.WriteAt(1, m_Pack));
    EXPECT_TRUE(file.WriteAt(2, m_Pack));
    EXPECT_FALSE(file.Close());
    EXPECT_EQ(file.LastError(), strerror(EIO));

    m_FileSystem.SetRule([](FileOp op, const std::string&, int64_t) { return op != FileOp::Read; });
    CVobFile reader(m_FileSystem);
    ASSERT_TRUE(reader.Open(path, OpenMode::Read));
    EXPECT_EQ(reader.ReadNext(m_Pack), -1);
    EXPECT_EQ(reader.LastError(), strerror(EIO));

    m_FileSystem.SetRule(
        [](FileOp op, const std::string&, int64_t) { return op != FileOp::Truncate; });
    CVobFile cutter(m_FileSystem);
    ASSERT_TRUE(cutter.Open(path, OpenMode::Update));
    EXPECT_FALSE(cutter.TruncateTo(2));
    EXPECT_EQ(FileSizeBytes(path), 4 * kPack);

    m_FileSystem.SetRule([](FileOp op, const std::string&, int64_t) { return op != FileOp::Open; });
    CVobFile none(m_FileSystem);
    EXPECT_FALSE(none.Open(path, OpenMode::Read));
    EXPECT_FALSE(none.IsOpen());
}

TEST_F(VobIo, OpeningAMissingFileForReadFailsWithTheSystemError) {
    CVobFile file(m_FileSystem);
    EXPECT_FALSE(file.Open(m_Dir + "/missing.VOB", OpenMode::Update));
    EXPECT_EQ(file.LastError(), strerror(ENOENT));
}

}  // namespace
}  // namespace dorvex::testkit
