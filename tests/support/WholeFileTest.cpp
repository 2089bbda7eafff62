#include "support/WholeFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/FaultyFileSystem.h"
#include "common/TempDir.h"
#include "support/FileSystem.h"

namespace dorvex {
namespace {

using testkit::FaultyFileSystem;
using testkit::TempDir;

std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(WholeFile, ReplacesTheTargetAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir / "VTS_01_0.IFO";
    const std::vector<uint8_t> old(3000, 0x11);
    std::string error;
    ASSERT_TRUE(WriteWholeFile(TheRealFileSystem(), path, old.data(), old.size(), error)) << error;
    const std::vector<uint8_t> fresh(5000, 0x22);
    ASSERT_TRUE(WriteWholeFile(TheRealFileSystem(), path, fresh.data(), fresh.size(), error))
        << error;
    EXPECT_EQ(Read(path), fresh);
    EXPECT_FALSE(Exists(PartialPathFor(path)));

    ASSERT_TRUE(WriteWholeFile(TheRealFileSystem(), path, nullptr, 0, error)) << error;
    EXPECT_TRUE(Read(path).empty());
}

// A write that runs out of room (the file size limit stands in for a full disk) fails with the
// system's reason, keeps the old file byte for byte and removes its temporary file.
TEST(WholeFile, AFailedWriteKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir / "VTS_01_0.BUP";
    const std::vector<uint8_t> old(4096, 0x33);
    std::string error;
    ASSERT_TRUE(WriteWholeFile(TheRealFileSystem(), path, old.data(), old.size(), error));

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 8192;
    auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::vector<uint8_t> big(64 * 1024, 0x44);
    const bool written = WriteWholeFile(TheRealFileSystem(), path, big.data(), big.size(), error);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, strerror(EFBIG));
    EXPECT_EQ(Read(path), old);
    EXPECT_FALSE(Exists(PartialPathFor(path)));
}

// Only a Flushed write waits for the disk, and a flush that fails is a failed write.
TEST(WholeFile, AFlushedWriteReachesTheDiskBeforeItReplacesTheTarget) {
    TempDir dir;
    const std::string path = dir / "VTS_01_0.IFO";
    std::vector<std::string> flushed;
    bool flushFails = false;
    FaultyFileSystem files;
    files.SetRule([&](FileOp op, const std::string& flushedPath, int64_t) {
        if (op != FileOp::Sync) {
            return true;
        }
        flushed.push_back(flushedPath);
        return !flushFails;
    });
    const std::vector<uint8_t> old(2048, 0x55);
    const std::vector<uint8_t> fresh(4096, 0x66);
    std::string error;
    EXPECT_TRUE(WriteWholeFile(files, path, old.data(), old.size(), error, Durability::Flushed));
    EXPECT_EQ(flushed, std::vector<std::string>{PartialPathFor(path)});

    flushed.clear();
    EXPECT_TRUE(WriteWholeFile(files, path, fresh.data(), fresh.size(), error, Durability::Cached));
    EXPECT_TRUE(flushed.empty());
    EXPECT_EQ(Read(path), fresh);
    EXPECT_FALSE(Exists(PartialPathFor(path)));  // the old file, swapped out, is gone
    const std::string other = dir / "VTS_01_0.BUP";
    EXPECT_TRUE(
        WriteWholeFile(files, other, fresh.data(), fresh.size(), error, Durability::Cached));
    EXPECT_EQ(Read(other), fresh);  // nothing to swap with: renamed
    EXPECT_FALSE(Exists(PartialPathFor(other)));

    flushFails = true;
    EXPECT_FALSE(WriteWholeFile(files, path, old.data(), old.size(), error, Durability::Flushed));
    EXPECT_EQ(error, strerror(EIO));
    EXPECT_EQ(Read(path), fresh);
    EXPECT_FALSE(Exists(PartialPathFor(path)));
}

TEST(WholeFile, ATargetThatCannotBeReplacedIsLeftAsItIs) {
    TempDir dir;
    const std::string path = dir / "taken";
    ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
    const uint8_t byte = 1;
    std::string error;
    for (const Durability durability : {Durability::Flushed, Durability::Cached}) {
        EXPECT_FALSE(WriteWholeFile(TheRealFileSystem(), path, &byte, 1, error, durability));
        EXPECT_EQ(error, strerror(EISDIR));
        EXPECT_FALSE(Exists(PartialPathFor(path)));
        struct stat st;
        EXPECT_TRUE(stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }

    EXPECT_FALSE(WriteWholeFile(TheRealFileSystem(), dir / "missing-folder/file", &byte, 1, error));
    EXPECT_EQ(error, strerror(ENOENT));
}

}  // namespace
}  // namespace dorvex
