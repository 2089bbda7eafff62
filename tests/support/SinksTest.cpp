#include "support/Sinks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/TempDir.h"

namespace dorvex {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class SinksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_Temp.Path().empty());
        StatusText::Set("");
    }
    void TearDown() override { CloseLogFile(); }

    testkit::TempDir m_Temp;
    const std::string m_LogPath = m_Temp / "Dorvex.log";
};

TEST_F(SinksTest, StripsOneLineFeedAndWritesOneLogLine) {
    ASSERT_TRUE(OpenLogFile(m_LogPath, "w"));
    testing::internal::CaptureStdout();
    Logf("Found Video Format: %s\n", "PAL");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Found Video Format: PAL");
    EXPECT_EQ(StatusText::Get(), "Found Video Format: PAL");
    // Flushed at once: readable before the file is closed.
    EXPECT_EQ(ReadAll(m_LogPath), "Found Video Format: PAL\n");
}

TEST_F(SinksTest, DetailLinesReachOnlyTheStatusBuffer) {
    ASSERT_TRUE(OpenLogFile(m_LogPath, "w"));
    testing::internal::CaptureStdout();
    LogDetailf("Format Video: %s\n", "NTSC");
    char direct[] = "dropped";
    LogMessage(direct, kLogLevelDetail);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ReadAll(m_LogPath), "");
    // The formatter still replaced the status line, line feed included; the sink kept out.
    EXPECT_EQ(StatusText::Get(), "Format Video: NTSC\n");
}

TEST_F(SinksTest, PercentSignsAndEmptyLinesPassUnchanged) {
    ASSERT_TRUE(OpenLogFile(m_LogPath, "w"));
    testing::internal::CaptureStdout();
    Logf("Processing %s", "/dvd/100%s %d/VTS_01_1.VOB");
    char empty[] = "";
    LogMessage(empty, kLogLevelNormal);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Processing /dvd/100%s %d/VTS_01_1.VOB");
    EXPECT_EQ(ReadAll(m_LogPath), "Processing /dvd/100%s %d/VTS_01_1.VOB\n\n");
}

TEST_F(SinksTest, WithoutLogFileLinesStillReachStatusAndStdout) {
    CloseLogFile();
    testing::internal::CaptureStdout();
    Logf("Done");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Done");
    EXPECT_EQ(StatusText::Get(), "Done");
    EXPECT_FALSE(IsLogFileOpen());
}

TEST_F(SinksTest, AlertsBeforeTheDialogAreLoggedLikeLines) {
    ASSERT_EQ(g_pfnAlert, &LogMessage);
    ASSERT_TRUE(OpenLogFile(m_LogPath, "w"));
    testing::internal::CaptureStdout();
    Logf("before");
    Alert("Too many cells!");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ReadAll(m_LogPath), "before\nToo many cells!\n");
}

TEST_F(SinksTest, ConstantAlertLeavesStatusWhenSinkDoesNotTouchIt) {
    static std::string s_seen;
    ScopedSinks sinks(nullptr, [](char* text, int32_t) { s_seen = text; });
    StatusText::Set("previous line");
    Alert("GetMapping failed!");
    EXPECT_EQ(s_seen, "GetMapping failed!");
    EXPECT_EQ(StatusText::Get(), "previous line");
    Alertf("Couldn't backup %s", "/x/VTS_01_1.VOB");
    EXPECT_EQ(s_seen, "Couldn't backup /x/VTS_01_1.VOB");
    EXPECT_EQ(StatusText::Get(), "Couldn't backup /x/VTS_01_1.VOB");
}

TEST_F(SinksTest, ScopedSinksKeepTheSinkInPlaceForNullAndRestoreBoth) {
    {
        ScopedSinks outer(DiscardMessage, nullptr);
        ScopedSinks inner(nullptr, DiscardMessage);
        EXPECT_EQ(g_pfnLog, &DiscardMessage);
        EXPECT_EQ(g_pfnAlert, &DiscardMessage);
    }
    EXPECT_EQ(g_pfnLog, &LogMessage);
    EXPECT_EQ(g_pfnAlert, &LogMessage);
}

TEST_F(SinksTest, OverlongLinesAreTruncatedNotOverflowed) {
    std::string longText(5000, 'x');
    testing::internal::CaptureStdout();
    Logf("%s", longText.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.size(), kStatusCapacity - 1);
    EXPECT_EQ(StatusText::Get().size(), kStatusCapacity - 1);
}

TEST_F(SinksTest, ReopeningForAppendKeepsEarlierLinesAndRawWrites) {
    ASSERT_TRUE(OpenLogFile(m_LogPath, "w"));
    testing::internal::CaptureStdout();
    Logf("Starting Processing at 10:00:00");
    ASSERT_TRUE(OpenLogFile(m_LogPath, "a"));  // closes the first stream
    WriteLogFileRaw("Dorvex -- 1.4\n");
    Logf("Done");
    CloseLogFile();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(AppendToFile(m_LogPath, "End Processing at 10:00:05"));
    EXPECT_EQ(ReadAll(m_LogPath),
              "Starting Processing at 10:00:00\nDorvex -- 1.4\nDone\nEnd Processing at 10:00:05");
    EXPECT_FALSE(AppendToFile(m_Temp / "no/such/folder/log", "x"));
    EXPECT_FALSE(OpenLogFile(m_Temp / "no/such/folder/log", "w"));
}

}  // namespace
}  // namespace dorvex
