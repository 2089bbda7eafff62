// dorvex-cli on disc images and on several paths at once, run as child processes: an image made
// with genisoimage from a synthetic damaged disc is checked and planned where it is and cleaned
// into a new image or folder, and the image never changes; refusals, too little free space, a
// failing image writer and Ctrl-C at each step leave nothing behind; several paths give one
// summary and the highest exit status.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "CliHarness.h"
#include "app/image/ImageFileSystem.h"
#include "app/image/WorkFolder.h"
#include "common/StreamBuilder.h"

namespace dorvex::clitest {
namespace {

bool HaveGenisoimage() {
    return std::system("command -v genisoimage >/dev/null 2>&1") == 0;
}

// Files in a folder whose name shows a work folder of the program (".NAME.dorvex-XXXXXX").
std::vector<std::string> WorkFolders(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().find(".dorvex-") != std::string::npos) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

class CliImage : public CliHarness {
  protected:
    void SetUp() override {
        if (!HaveGenisoimage()) {
            GTEST_SKIP() << "genisoimage not installed (scripts/install-deps.sh installs it)";
        }
        MakeDamagedDisc(Path("disc/VIDEO_TS"));
        fs::create_directories(Path("disc/AUDIO_TS"));
        fs::create_directories(Path("data"));
        ASSERT_EQ(std::system(("genisoimage -quiet -udf -V TESTDISC -o '" + Image() + "' '" +
                               Path("disc") + "'")
                                  .c_str()),
                  0);
        m_ImageBytes = ReadText(Image());
    }
    std::string Image() const { return Path("movie.iso"); }
    std::string Log() const { return Path("run.log"); }
    void ExpectImageUnchanged() { EXPECT_TRUE(ReadText(Image()) == m_ImageBytes); }

    // The environment of the child with `bin` first in PATH.
    std::vector<std::string> EnvWithPathFirst(const std::string& bin) {
        std::vector<std::string> env = testkit::IsolatedEnvironment(Dir());
        for (std::string& entry : env) {
            if (entry.rfind("PATH=", 0) == 0) {
                entry = "PATH=" + bin + ":" + entry.substr(5);
            }
        }
        return env;
    }

    std::string m_ImageBytes;
};

// check --svg and plan --svg of an image draw what they draw of the folder it was made of.
TEST_F(CliImage, MapsOfTheImageAreThoseOfItsFolder) {
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"check"}, std::vector<std::string>{"plan", "-u"}}) {
        SCOPED_TRACE(command.front());
        std::map<std::string, std::string> pictures[2];
        for (const int i : {0, 1}) {
            const std::string folder = Path(command.front() + std::to_string(i));
            fs::create_directories(folder);
            std::vector<std::string> args = command;
            args.insert(args.end(), {"--svg", folder, i == 0 ? Image() : Path("disc/VIDEO_TS")});
            EXPECT_LE(Cli(args).status, 1);
            for (const auto& entry : fs::directory_iterator(folder)) {
                pictures[i][entry.path().filename()] = ReadText(entry.path());
            }
        }
        EXPECT_FALSE(pictures[0].empty());
        EXPECT_TRUE(pictures[0] == pictures[1]);
    }
    ExpectImageUnchanged();
}

TEST_F(CliImage, CheckPlanAndCleanReadTheImageWhereItIsAndNeverChangeIt) {
    // check and plan see what they see in the folder the image was made of.
    const ChildResult folderCheck = Cli({"check", Path("disc")});
    const ChildResult imageCheck = Cli({"check", Image()});
    EXPECT_EQ(imageCheck.status, 1) << imageCheck.err;
    std::vector<std::string> folderLines = SplitLines(folderCheck.out);
    std::vector<std::string> imageLines = SplitLines(imageCheck.out);
    ASSERT_FALSE(imageLines.empty());
    EXPECT_EQ(imageLines.back(), folderLines.back().substr(0, folderLines.back().find(" in ")) +
                                     " in " + Image() + "/VIDEO_TS/");
    folderLines.pop_back();
    imageLines.pop_back();
    EXPECT_EQ(imageLines, folderLines);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"plan", "-u"}, std::vector<std::string>{"plan", "-u", "-f"}}) {
        std::vector<std::string> onImage = args;
        onImage.push_back(Image());
        std::vector<std::string> onFolder = args;
        onFolder.push_back(Path("disc/VIDEO_TS"));
        const ChildResult plan = Cli(onImage);
        EXPECT_EQ(plan.status, 0) << plan.err;
        EXPECT_EQ(plan.out, Cli(onFolder).out);
    }

    // Cleaned into a new image and into a folder: both hold what an in-place clean of the folder
    // makes, and the new image passes the check.
    const ChildResult toImage =
        Cli({"clean", "-u", "--log", Log(), Image(), "--output", Path("clean.iso")});
    EXPECT_EQ(toImage.status, 0) << toImage.err;
    EXPECT_NE(toImage.err.find("Wrote " + Path("clean.iso") + "; " + Image() + " is unchanged\n"),
              std::string::npos)
        << toImage.err;
    fs::create_directories(Path("out"));
    const ChildResult toFolder =
        Cli({"clean", "-u", "-q", "--log", Log(), Image(), "--output", Path("out/cleaned")});
    EXPECT_EQ(toFolder.status, 0) << toFolder.err;
    EXPECT_EQ(toFolder.err, "");
    ExpectImageUnchanged();
    EXPECT_TRUE(WorkFolders(Dir()).empty());
    EXPECT_TRUE(WorkFolders(Path("out")).empty());

    ASSERT_EQ(Cli({"clean", "-u", "-i", "-q", "--log", Log(), Path("disc")}).status, 0);
    // The new image holds the same: the check says the same of both, place aside.
    const auto findings = [this](const std::string& path) {
        std::vector<std::string> lines = SplitLines(Cli({"check", path}).out);
        lines.pop_back();
        return lines;
    };
    EXPECT_EQ(findings(Path("clean.iso")), findings(Path("disc")));
    EXPECT_TRUE(ReadTree(Path("out/cleaned/VIDEO_TS")) == ReadTree(Path("disc/VIDEO_TS")));
    EXPECT_TRUE(fs::is_directory(Path("out/cleaned/AUDIO_TS")));

    // An existing folder as --output takes the image under its own name.
    ASSERT_EQ(Cli({"clean", "-u", "-q", "--log", Log(), Image(), "--output", Path("out")}).status,
              0);
    EXPECT_EQ(findings(Path("out/movie.iso")), findings(Path("disc")));
}

TEST_F(CliImage, RefusalsWriteNothing) {
    WriteText(Path("taken.iso"), "someone's file");
    WriteText(Path("plain.iso"), "");
    ASSERT_EQ(
        std::system(
            ("genisoimage -quiet -o '" + Path("data.iso") + "' '" + Path("data") + "'").c_str()),
        0);
    // Everything but the capture files of the children.
    const auto files = [this] {
        Tree tree = ReadTree(Dir());
        tree.erase("stdout.txt");
        tree.erase("stderr.txt");
        return tree;
    };
    const Tree before = files();
    struct Refusal {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Refusal> cases = {
        {{"clean", Image()}, "a disc image is never changed"},
        {{"clean", Image(), "--output", Path("taken.iso")}, "already exists"},
        {{"clean", "-i", Image(), "--output", Path("new.iso")}, "leave out --in-place"},
        {{"clean", Path("disc"), "--output", Path("new.iso")}, "--output is for disc images"},
        {{"clean", Image(), "--output", Path("nowhere/new.iso")}, "no folder"},
        {{"clean", Image(), Image(), "--output", Path("new.iso")}, "names a disc named before"},
        {{"check", Path("data.iso")}, "no VIDEO_TS.IFO or VTS_xx_0.IFO in this image"},
        {{"plan", Path("data.iso")}, "no VIDEO_TS.IFO or VTS_xx_0.IFO in this image"},
        // Not an image at all: the folder rules answer as before.
        {{"check", Path("plain.iso")}, "no VIDEO_TS.IFO or VTS_xx_0.IFO here"},
    };
    for (const Refusal& refusal : cases) {
        const ChildResult result = Cli(refusal.args);
        EXPECT_EQ(result.status, 2) << refusal.args[0] << " " << refusal.args[1];
        EXPECT_NE(result.err.find(refusal.says), std::string::npos) << result.err;
    }
    EXPECT_TRUE(files() == before);
    EXPECT_TRUE(WorkFolders(Dir()).empty());
}

uint32_t LE32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

void PutLE32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Where the UDF file entry of the file whose data starts at `sector` lies in a genisoimage image,
// and where in it the length of its one extent is: descriptors start with a 16-bit tag (5 the
// partition, 261 a file entry) and name their own sector at byte 12; a partition descriptor
// holds its start at 188, a file entry the length of its extended attributes at 168 and its
// allocation descriptors (length, then sector in the partition) from 176 on.
struct FileEntry {
    size_t at = 0;
    size_t extentLength = 0;
};

FileEntry FileEntryOf(const std::vector<uint8_t>& image, uint32_t sector) {
    constexpr size_t kSector = 2048;
    uint32_t partition = 0;
    for (size_t s = 16; s < 512 && partition == 0; ++s) {
        if ((LE32(image, s * kSector) & 0xFFFF) == 5 && LE32(image, s * kSector + 12) == s) {
            partition = LE32(image, s * kSector + 188);
        }
    }
    for (size_t s = partition; s < partition + 512 && s * kSector < image.size(); ++s) {
        const size_t at = s * kSector;
        const size_t extent = at + 176 + LE32(image, at + 168);
        if ((LE32(image, at) & 0xFFFF) == 261 && LE32(image, extent + 4) + partition == sector) {
            return {at, extent};
        }
    }
    return {};
}

// An image whose files are not each their own run of sectors: refused by check, plan and clean,
// naming the file and what to do, and nothing is written.
TEST_F(CliImage, FilesThatShareSectorsEndPastTheImageOrCannotBeFoundAreRefused) {
    std::string error;
    const auto image = OpenDiscImage(Image(), error);
    ASSERT_NE(image, nullptr) << error;
    const auto sectorOf = [&image](const char* name) {
        for (const auto& entry : image->Entries()) {
            if (entry.name == name) {
                return entry.firstSector;
            }
        }
        return uint32_t{0};
    };
    struct Damage {
        const char* name;
        const char* file;
        std::function<void(std::vector<uint8_t>&, const FileEntry&)> apply;
        const char* says;
    };
    const Damage damages[] = {
        {"an extent over the next file", "VTS_01_1.VOB",
         [](std::vector<uint8_t>& bytes, const FileEntry& entry) {
             PutLE32(bytes, entry.extentLength, LE32(bytes, entry.extentLength) + 2 * 2048);
         },
         "VTS_01_1.VOB (sectors "},
        {"an extent past the image", "VTS_01_3.VOB",
         [](std::vector<uint8_t>& bytes, const FileEntry& entry) {
             PutLE32(bytes, entry.extentLength, 1u << 29);
         },
         "the image is cut short: VTS_01_3.VOB (sectors "},
        {"a file entry that cannot be read", "VTS_01_2.VOB",
         [](std::vector<uint8_t>& bytes, const FileEntry& entry) { bytes[entry.at] = 0; },
         "VTS_01_2.VOB is in the image's VIDEO_TS folder, but its UDF file entry cannot be "
         "read"},
    };
    const std::vector<uint8_t> intact = testkit::ReadBytes(Image());
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        std::vector<uint8_t> bytes = intact;
        const FileEntry entry = FileEntryOf(bytes, sectorOf(damage.file));
        ASSERT_NE(entry.at, 0u);
        damage.apply(bytes, entry);
        testkit::WriteBytes(Image(), bytes);
        const Tree before = ReadTree(Dir());
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"check", Image()},
              {"plan", "-u", Image()},
              {"clean", "-u", "--log", Log(), Image(), "--output", Path("new.iso")},
              {"clean", "-u", "--log", Log(), Image(), "--output", Path("new")}}) {
            const ChildResult result = Cli(args);
            EXPECT_EQ(result.status, 2) << args[0] << ": " << result.out << result.err;
            const std::string said = Image() + ": " + damage.says;
            EXPECT_NE(result.err.find(said), std::string::npos) << result.err;
            EXPECT_NE(result.err.find("Make it again from the disc"), std::string::npos);
        }
        Tree after = ReadTree(Dir());
        for (const char* capture : {"stdout.txt", "stderr.txt"}) {
            after.erase(capture);
        }
        Tree expected = before;
        expected.erase("stdout.txt");
        expected.erase("stderr.txt");
        EXPECT_TRUE(after == expected);
    }
}

// A file system with room for the extracted files but not for them and a new image as well.
TEST_F(CliImage, TooLittleFreeSpaceIsRefusedBeforeAnythingIsWritten) {
    const std::string small = Path("small");
    fs::create_directories(small);
    int64_t files = 0;
    for (const auto& [name, bytes] : ReadTree(Path("disc/VIDEO_TS"))) {
        files += static_cast<int64_t>(bytes.size());
    }
    const std::string size = "size=" + std::to_string(files + 512 * 1024);
    if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) != 0) {
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    }
    const ChildResult tooSmall = Cli({"clean", Image(), "--output", small + "/new.iso"});
    const bool empty = fs::is_empty(small);
    const ChildResult folder =
        Cli({"clean", "-q", "--log", Log(), Image(), "--output", small + "/new"});
    const bool cleaned = fs::exists(small + "/new/VIDEO_TS/VTS_01_0.IFO");
    umount(small.c_str());

    EXPECT_EQ(tooSmall.status, 2);
    EXPECT_NE(tooSmall.err.find("error: not enough free space in " + small + ": cleaning " +
                                Image() + " into " + small + "/new.iso needs "),
              std::string::npos)
        << tooSmall.err;
    EXPECT_NE(tooSmall.err.find("are free. Nothing was written"), std::string::npos);
    EXPECT_TRUE(empty);
    // A folder needs the extracted files only.
    EXPECT_EQ(folder.status, 0) << folder.err;
    EXPECT_TRUE(cleaned);
    ExpectImageUnchanged();
}

TEST_F(CliImage, AFailingOrMissingImageWriterIsReportedAndLeavesNothing) {
    const std::string bin = Path("bin");
    fs::create_directories(bin);
    WriteText(bin + "/genisoimage",
              "#!/bin/sh\necho 'genisoimage: Value too large for defined data type' >&2\nexit 3\n");
    fs::permissions(bin + "/genisoimage", fs::perms::owner_all);
    const ChildResult failed = Wait(testkit::SpawnChild(
        DORVEX_CLI2_PATH, {"clean", "-q", "--log", Log(), Image(), "--output", Path("new.iso")},
        EnvWithPathFirst(bin), Dir()));
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err,
              "error: genisoimage failed (exit status 3): genisoimage: Value too large "
              "for defined data type; " +
                  Image() + " is unchanged and " + Path("new.iso") + " was not written.\n");

    std::vector<std::string> env = testkit::IsolatedEnvironment(Dir());
    for (std::string& entry : env) {
        if (entry.rfind("PATH=", 0) == 0) {
            entry = "PATH=" + Path("nothing");
        }
    }
    const ChildResult missing = Wait(testkit::SpawnChild(
        DORVEX_CLI2_PATH, {"clean", Image(), "--output", Path("new.iso")}, env, Dir()));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("genisoimage is not installed"), std::string::npos);
    EXPECT_FALSE(fs::exists(Path("new.iso")));
    EXPECT_TRUE(WorkFolders(Dir()).empty());
    ExpectImageUnchanged();
}

// Ctrl-C at each step of a clean into an image: standard error is a pipe that holds exactly the
// lines up to the step's, so the child blocks on its next line until the test has sent SIGINT.
// The lines are those of an undisturbed run to an output name of the same length.
class CliImageSignal : public CliImage, public ::testing::WithParamInterface<const char*> {};

TEST_P(CliImageSignal, CtrlCLeavesNothingBehind) {
    const std::vector<std::string> args = {"clean", "-u", "--log", Log(), Image(), "--output"};
    std::vector<std::string> reference = args;
    reference.push_back(Path("ref.iso"));
    const ChildResult undisturbed = Cli(reference);
    ASSERT_EQ(undisturbed.status, 0) << undisturbed.err;
    // The bytes up to the end of the step's line (a line feed put in front finds the first).
    const std::string lines = "\n" + undisturbed.err;
    const size_t line = lines.find(std::string("\n") + GetParam());
    ASSERT_NE(line, std::string::npos) << undisturbed.err;
    const size_t upTo = lines.find('\n', line + 1);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int capacity = 65536;
    ASSERT_EQ(fcntl(fds[1], F_SETPIPE_SZ, capacity), capacity);
    const std::string filler(capacity - upTo, '.');
    ASSERT_EQ(write(fds[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
    std::vector<std::string> run = args;
    run.push_back(Path("new.iso"));
    const pid_t pid = Spawn(DORVEX_CLI2_PATH, run, ChildStreams{-1, -1, fds[1]});
    close(fds[1]);
    int queued = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (queued < capacity && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(ioctl(fds[0], FIONREAD, &queued), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(queued, capacity);
    ASSERT_EQ(kill(pid, SIGINT), 0);
    std::string err;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof(buffer))) > 0;) {
        err.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    const ChildResult result = Wait(pid);

    EXPECT_EQ(result.status, 1) << err.substr(filler.size());
    EXPECT_NE(err.find("error: Interrupted; " + Image() + " is unchanged and " + Path("new.iso") +
                       " was not written.\n"),
              std::string::npos)
        << err.substr(filler.size());
    EXPECT_FALSE(fs::exists(Path("new.iso")));
    EXPECT_TRUE(WorkFolders(Dir()).empty());
    ExpectImageUnchanged();
}

// The line after which the child blocks: before the copy, before the run's first line, inside
// the run, and before the image writer starts.
INSTANTIATE_TEST_SUITE_P(Steps, CliImageSignal,
                         ::testing::Values("Cleaning the whole disc", "Copying ",
                                           "Remove unrefed is ON", "End of FULL DVD process"),
                         [](const auto& info) { return "Step" + std::to_string(info.index); });

// Waits up to `seconds` for a child (or an orphan this process reaps) to end; its wait status,
// or -1 when it is still running.
int WaitAtMost(pid_t pid, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

// A clean killed while genisoimage writes takes the writer with it, and the next clean of the
// image removes the work folder it left. The writer stands in for genisoimage: it says its
// process ID and sleeps (exec keeps the ID); this process adopts orphans to see how it ends.
TEST_F(CliImage, AKilledCleanLeavesNoWriterAndTheNextCleanRemovesItsWorkFolder) {
    const std::string bin = Path("bin");
    fs::create_directories(bin);
    WriteText(bin + "/genisoimage",
              "#!/bin/sh\necho $$ > '" + Path("writer.pid") + "'\nexec sleep 60\n");
    fs::permissions(bin + "/genisoimage", fs::perms::owner_all);
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const pid_t cli = testkit::SpawnChild(
        DORVEX_CLI2_PATH, {"clean", "-q", "--log", Log(), Image(), "--output", Path("new.iso")},
        EnvWithPathFirst(bin), Dir());
    pid_t writer = 0;
    for (int i = 0; i < 1500 && writer <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string text = ReadText(Path("writer.pid"));
        writer = text.empty() ? 0 : std::stoi(text);
    }
    ASSERT_GT(writer, 0);
    ASSERT_EQ(kill(cli, SIGKILL), 0);
    Wait(cli);
    const int ended = WaitAtMost(writer, 10);
    if (ended < 0) {
        kill(writer, SIGKILL);
        WaitAtMost(writer, 10);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    EXPECT_TRUE(ended >= 0 && WIFSIGNALED(ended) && WTERMSIG(ended) == SIGKILL)
        << "the writer outlived the clean: " << ended;

    const std::vector<std::string> left = WorkFolders(Dir());
    ASSERT_EQ(left.size(), 1u);
    const ChildResult again = Cli({"clean", "--log", Log(), Image(), "--output", Path("new.iso")});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Removed " + left[0] + ", left by a clean of " + Image()),
              std::string::npos)
        << again.err;
    EXPECT_TRUE(WorkFolders(Dir()).empty());
    EXPECT_TRUE(fs::exists(Path("new.iso")));
    ExpectImageUnchanged();
}

// Only a folder that is surely a killed clean's leftover of this image is removed; one that may
// be but cannot be told for sure is named and kept; any other is passed over without a word.
class WorkFolderSweep : public CliHarness {
  protected:
    // The work folder a clean of `image` into `output` leaves when its process is killed.
    std::string KilledCleansFolder(const std::string& output, const std::string& image) {
        const std::vector<std::string> before = WorkFolders(Dir());
        const pid_t pid = fork();
        if (pid == 0) {
            auto* work = new WorkFolder();  // never destroyed: the process ends as a kill ends it
            std::string error;
            _exit(work->Create(output, image, error) ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        for (const std::string& path : WorkFolders(Dir())) {
            if (std::find(before.begin(), before.end(), path) == before.end()) {
                return path;
            }
        }
        return {};
    }
};

TEST_F(WorkFolderSweep, RemovesOnlyWhatIsSurelyAKilledCleansLeftoverAndNamesTheDoubtful) {
    const std::string image = Path("movie.iso");
    const std::string other = Path("other.iso");
    WriteText(image, "an image");
    WriteText(other, "another image");
    const std::string output = Path("new.iso");
    struct Case {
        const char* name;
        std::function<std::string()> make;  // the folder, set up
        bool removed;
        const char* named;  // what the line about it says; empty: no line
    };
    std::unique_ptr<WorkFolder> running;
    const Case cases[] = {
        {"a killed clean's, as it left it",
         [&] {
             const std::string work = KilledCleansFolder(output, image);
             WriteText(work + "/disc/VIDEO_TS/VTS_01_1.VOB", "copied");
             WriteText(work + "/disc/VIDEO_TS/VTS_01.dorvex-journal", "journal");
             WriteText(work + "/disc/VIDEO_TS/VTS_01_0.IFO.dorvex-partial", "saving");
             WriteText(work + "/new.iso", "half an image");
             WriteText(work + "/genisoimage.log", "writing");
             return work;
         },
         true, "that did not finish (process "},
        {"a killed clean's holding someone's file",
         [&] {
             const std::string work = KilledCleansFolder(output, image);
             WriteText(work + "/disc/notes.txt", "mine");
             return work;
         },
         false, "but it holds disc/notes.txt, which a clean does not make"},
        {"a killed clean's holding a link",
         [&] {
             const std::string work = KilledCleansFolder(output, image);
             fs::create_symlink(Dir(), work + "/disc/VIDEO_TS/VTS_01_2.VOB");
             return work;
         },
         false, "but it holds disc/VIDEO_TS/VTS_01_2.VOB, which a clean does not make"},
        {"without a marker",
         [&] {
             const std::string work = KilledCleansFolder(output, image);
             fs::remove(work + "/" + WorkFolder::kMarkerName);
             return work;
         },
         false, "but it holds no marker saying which clean made it"},
        {"a folder of that name others may read",
         [&] {
             const std::string work = KilledCleansFolder(output, image);
             chmod(work.c_str(), 0755);
             return work;
         },
         false, ""},
        {"a killed clean's of another image", [&] { return KilledCleansFolder(output, other); },
         false, ""},
        {"a running clean's",
         [&] {
             running = std::make_unique<WorkFolder>();
             std::string error;
             EXPECT_TRUE(running->Create(output, image, error)) << error;
             return running->Path();
         },
         false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string work = c.make();
        ASSERT_FALSE(work.empty());
        const Tree before = ReadTree(work);
        const std::vector<SweepLine> lines = SweepLeftoverWorkFolders(output, image);
        EXPECT_EQ(fs::exists(work), !c.removed);
        if (!c.removed) {
            EXPECT_TRUE(ReadTree(work) == before);
        }
        if (*c.named == '\0') {
            EXPECT_TRUE(lines.empty()) << lines.front().text;
        } else {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].removed, c.removed);
            EXPECT_EQ(lines[0].text.rfind((c.removed ? "Removed " : "") + work, 0), 0u)
                << lines[0].text;
            EXPECT_NE(lines[0].text.find(c.named), std::string::npos) << lines[0].text;
        }
        running.reset();
        std::error_code ignored;
        fs::permissions(work, fs::perms::owner_all, ignored);
        fs::remove_all(work, ignored);
    }
}

TEST_F(CliImage, SeveralPathsGiveOneSummaryAndTheHighestExitStatus) {
    const std::string broken = Path("broken");
    fs::create_directories(broken);
    const ChildResult check = Cli({"check", Path("disc"), Image(), broken});
    EXPECT_EQ(check.status, 2);
    EXPECT_NE(check.out.find("== " + Image() + "\n"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("summary of 3 paths (exit status 2):\n"
                             "  findings: " +
                             Path("disc") + ": "),
              std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("  refused: " + broken + ": " + broken +
                             ": no VIDEO_TS.IFO or VTS_xx_0.IFO here\n"),
              std::string::npos)
        << check.out;

    WriteText(Path("check.json"), Cli({"check", "--json", Image(), Path("disc")}).out);
    const auto json = ParseJson(Path("check.json"));
    EXPECT_EQ(json.at("exitStatus"), "1");
    EXPECT_EQ(json.at("paths#"), "2");
    EXPECT_EQ(json.at("paths[0].outcome"), "findings");
    EXPECT_EQ(json.at("paths[0].folder"), Image() + "/VIDEO_TS/");
    EXPECT_EQ(json.at("paths[0].total"), json.at("paths[1].total"));

    // clean: the discs are cleaned one after the other, the missing path refused between them;
    // the log file holds both runs.
    MakeDamagedDisc(Path("disc2/VIDEO_TS"));
    const ChildResult clean = Cli(
        {"clean", "-u", "-q", "--json", "--log", Log(), Path("disc"), Path("gone"), Path("disc2")});
    EXPECT_EQ(clean.status, 2) << clean.err;
    WriteText(Path("clean.json"), clean.out);
    const auto summary = ParseJson(Path("clean.json"));
    EXPECT_EQ(summary.at("command"), "clean");
    EXPECT_EQ(summary.at("paths#"), "3");
    EXPECT_EQ(summary.at("paths[0].outcome"), "cleaned");
    EXPECT_EQ(summary.at("paths[1].outcome"), "refused");
    EXPECT_EQ(summary.at("paths[2].outcome"), "cleaned");
    EXPECT_EQ(summary.at("exitStatus"), "2");
    const std::string log = ReadText(Log());
    EXPECT_NE(log.find("Starting Processing"), log.rfind("Starting Processing"));
}

}  // namespace
}  // namespace dorvex::clitest
