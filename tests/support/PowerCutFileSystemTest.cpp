// The power-cut model the in-place run is held to: what may and may not be on disk after a cut,
// over many cuts of the same calls.
#include "common/PowerCutFileSystem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "common/TempDir.h"

namespace dorvex::testkit {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kPage = 4096;

// A file as one letter a page: "AB" is a page of 'A' then a page of 'B'; '0' a page of zeros.
void WriteLetters(const std::string& path, const std::string& letters) {
    std::ofstream out(path, std::ios::binary);
    for (char letter : letters) {
        out << std::string(kPage, letter == '0' ? '\0' : letter);
    }
}

std::string Letters(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string letters;
    for (size_t at = 0; at < bytes.size(); at += kPage) {
        const std::string page = bytes.substr(at, kPage);
        const bool even = page.size() == kPage && page.find_first_not_of(page[0]) == page.npos;
        letters += !even ? '?' : page[0] == '\0' ? '0' : page[0];
    }
    return letters;
}

// What the folder holds: "a=AB b=" (sorted by name; the temporary name of a whole write as "~").
std::string Holds(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.find(".dorvex-partial") != name.npos) {
            name = "~";
        }
        files.insert(name + "=" + Letters(entry.path().string()));
    }
    std::string text;
    for (const std::string& file : files) {
        text += (text.empty() ? "" : " ") + file;
    }
    return text;
}

void WritePage(FileSystem& files, const std::string& path, OpenMode mode, int64_t page,
               char letter) {
    std::string error;
    auto file = files.Open(path, mode, error);
    ASSERT_NE(file, nullptr) << error;
    const std::string bytes(kPage, letter);
    ASSERT_TRUE(file->Write(reinterpret_cast<const uint8_t*>(bytes.data()), kPage, page * kPage));
}

struct Case {
    const char* what;
    std::string before;  // the letters of file "a", on disk before the calls
    std::function<void(FileSystem&, const std::string& folder)> calls;
    std::set<std::string> after;  // every state a cut may leave, each reached by some seed
};

TEST(PowerCutFileSystem, ACutLeavesWhatTheDiskMayHoldAndNothingElse) {
    const auto whole = [](Durability durability) {
        return [durability](FileSystem& files, const std::string& folder) {
            std::string error;
            const std::string bytes(kPage, 'B');
            ASSERT_TRUE(files.WriteWhole(folder + "/a",
                                         reinterpret_cast<const uint8_t*>(bytes.data()),
                                         bytes.size(), error, durability));
        };
    };
    const Case cases[] = {
        {"a write without a flush may be lost",
         "AA",
         [](FileSystem& files, const std::string& folder) {
             WritePage(files, folder + "/a", OpenMode::Update, 1, 'B');
         },
         {"a=AA", "a=AB"}},
        {"fsync keeps the data",
         "AA",
         [](FileSystem& files, const std::string& folder) {
             std::string error;
             WritePage(files, folder + "/a", OpenMode::Update, 1, 'B');
             ASSERT_TRUE(files.Open(folder + "/a", OpenMode::Update, error)->Sync());
         },
         {"a=AB"}},
        {"a grown size may land before its data, or its data before it",
         "A",
         [](FileSystem& files, const std::string& folder) {
             WritePage(files, folder + "/a", OpenMode::Update, 1, 'B');
         },
         {"a=A", "a=A0", "a=AB"}},
        {"a cut may land before the data written before it",
         "AB",
         [](FileSystem& files, const std::string& folder) {
             std::string error;
             WritePage(files, folder + "/a", OpenMode::Update, 0, 'C');
             ASSERT_TRUE(files.Open(folder + "/a", OpenMode::Update, error)->Truncate(kPage));
         },
         {"a=AB", "a=CB", "a=A", "a=C"}},
        {"a rename may land before the data of the renamed file",
         "A",
         [](FileSystem& files, const std::string& folder) {
             WritePage(files, folder + "/b", OpenMode::CreateNew, 0, 'B');
             ASSERT_EQ(files.Rename(folder + "/b", folder + "/a"), 0);
         },
         {"a=A", "a=A b=", "a=A b=0", "a=A b=B", "a=0", "a=B"}},
        {"an fsync keeps a new file's data, not its name",
         "A",
         [](FileSystem& files, const std::string& folder) {
             std::string error;
             WritePage(files, folder + "/b", OpenMode::CreateNew, 0, 'B');
             ASSERT_TRUE(files.Open(folder + "/b", OpenMode::Update, error)->Sync());
         },
         {"a=A", "a=A b=B"}},
        {"a folder's flush keeps everything",
         "A",
         [](FileSystem& files, const std::string& folder) {
             std::string error;
             WritePage(files, folder + "/b", OpenMode::CreateNew, 0, 'B');
             ASSERT_EQ(files.Remove(folder + "/a"), 0);
             ASSERT_TRUE(files.FlushFolder(folder, error));
         },
         {"b=B"}},
        {"a flushed whole write leaves the old file or the new",
         "A",
         whole(Durability::Flushed),
         {"a=A", "a=A ~=B", "a=B"}},
        {"a cached whole write may leave the new name on zeros",
         "A",
         whole(Durability::Cached),
         {"a=A", "a=A ~=", "a=A ~=0", "a=A ~=B", "a=0 ~=A", "a=B ~=A", "a=0", "a=B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::set<std::string> after;
        TempDir dir(TempDir::MemoryBase());
        for (uint64_t seed = 0; seed < 100; ++seed) {
            for (const auto& entry : fs::directory_iterator(dir.Path())) {
                fs::remove(entry.path());
            }
            WriteLetters(dir / "a", c.before);
            PowerCutFileSystem files;
            files.MarkDurable(dir.Path());
            c.calls(files, dir.Path());
            files.Cut(seed);
            after.insert(Holds(dir.Path()));
        }
        EXPECT_EQ(after, c.after);
    }
}

// A cut at the n-th call: the calls before it reach the file system, it and every later one fail.
TEST(PowerCutFileSystem, ACutAfterNOperationsStopsTheNextOne) {
    TempDir dir;
    WriteLetters(dir / "a", "A");
    PowerCutFileSystem files;
    files.MarkDurable(dir.Path());
    files.CutAfter(2, 1);
    std::string error;
    auto file = files.Open(dir / "a", OpenMode::Update, error);  // not a change
    const std::string bytes(kPage, 'B');
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    ASSERT_TRUE(file->Write(data, kPage, 0));
    ASSERT_TRUE(file->Sync());
    EXPECT_EQ(files.Operations(), 2);
    EXPECT_FALSE(files.WasCut());

    errno = 0;
    EXPECT_EQ(files.Rename(dir / "a", dir / "b"), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(files.WasCut());
    EXPECT_EQ(files.CutAt(), "rename a to b");
    EXPECT_FALSE(file->Write(data, kPage, kPage));
    EXPECT_EQ(file->Read(std::vector<uint8_t>(kPage).data(), kPage, 0), -1);
    EXPECT_FALSE(files.Exists(dir / "a"));
    EXPECT_EQ(Holds(dir.Path()), "a=B");
}

}  // namespace
}  // namespace dorvex::testkit
