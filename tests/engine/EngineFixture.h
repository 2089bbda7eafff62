// A temporary DVD folder, an engine set up for quick runs, and the log and alert lines captured
// by sinks installed for the test's lifetime.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/FaultyFileSystem.h"
#include "common/StreamBuilder.h"
#include "common/TempDir.h"
#include "engine/VobIo.h"
#include "engine/VtsCleaner.h"
#include "support/Sinks.h"

namespace dorvex::testkit {

using Packs = std::vector<std::vector<uint8_t>>;

class CapturedSinks {
  public:
    static std::vector<std::string> Logs() {
        std::lock_guard<std::mutex> guard(Lock());
        return LogLines();
    }
    static std::vector<std::string> Alerts() {
        std::lock_guard<std::mutex> guard(Lock());
        return AlertLines();
    }
    static void Clear() {
        std::lock_guard<std::mutex> guard(Lock());
        LogLines().clear();
        AlertLines().clear();
    }
    // Called on every log line (on the logging thread), after it is recorded.
    static std::function<void(const std::string&)>& OnLog() {
        static std::function<void(const std::string&)> hook;
        return hook;
    }
    static void Log(char* text, int32_t) {
        {
            std::lock_guard<std::mutex> guard(Lock());
            LogLines().emplace_back(text);
        }
        if (OnLog()) {
            OnLog()(text);
        }
    }
    static void Alert(char* text, int32_t) {
        std::lock_guard<std::mutex> guard(Lock());
        AlertLines().emplace_back(text);
    }

  private:
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::string>& LogLines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static std::vector<std::string>& AlertLines() {
        static std::vector<std::string> lines;
        return lines;
    }
};

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_Dir.empty());
        CapturedSinks::Clear();
        m_Engine.m_LogPath = m_Dir + "/Dorvex.log";
    }
    void TearDown() override {
        CapturedSinks::OnLog() = nullptr;
        CloseLogFile();
    }

    std::string Vob(int32_t number, int32_t titleSet = 1) const {
        return VobPath(m_Dir, titleSet, number);
    }
    std::string Backup(const std::string& name) const { return m_Dir + "/DorvexBackup/" + name; }

    static int CountLines(const std::vector<std::string>& lines, const std::string& text) {
        return static_cast<int>(std::count(lines.begin(), lines.end(), text));
    }
    static bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
        return CountLines(lines, text) > 0;
    }
    static int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
        return static_cast<int>(
            std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }

    TempDir m_Temp;
    const std::string m_Dir = m_Temp.Path();
    ScopedSinks m_Sinks{CapturedSinks::Log, CapturedSinks::Alert};
    // The engine's files: the disk, unless a test gives m_FileSystem a rule that fails some calls.
    FaultyFileSystem m_FileSystem;
    CVtsCleaner m_Engine{m_FileSystem};
};

}  // namespace dorvex::testkit
