// Log and alert sinks. Every text the program reports while it works is formatted here and
// handed to one of two replaceable sink functions: the log sink (status line, standard output,
// log file) and the alert sink (a message box in the dialog, standard error when headless).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dorvex {

// Sinks get a writable, terminated text they may shorten in place, and a level:
// 0 is an ordinary line, 1 a detail line that LogMessage drops.
using SinkFn = void (*)(char* text, int32_t level);

inline constexpr int32_t kLogLevelNormal = 0;
inline constexpr int32_t kLogLevelDetail = 1;

// Capacity of the shared status line, terminator included; longer lines are truncated.
inline constexpr size_t kStatusCapacity = 1280;

extern SinkFn g_pfnLog;
extern SinkFn g_pfnAlert;

// The current log file of a run, or null. Guarded by the sink lock: use the functions below.
extern FILE* g_pLogFile;

// The shared status line, handed between threads under a lock so it never tears.
class StatusText {
  public:
    // Replaces the text (truncated to kStatusCapacity - 1 characters).
    static void Set(const char* text);
    static std::string Get();
};

void LogMessage(char* text, int32_t level);
// The same, each line ending in a line break on standard output: the headless program's sink.
void LogLine(char* text, int32_t level);
// A sink that drops every line.
void DiscardMessage(char* text, int32_t level);

// Installs a log and an alert sink for its lifetime (null keeps the one in place) and puts the
// previous ones back when it ends.
class ScopedSinks {
  public:
    ScopedSinks(SinkFn log, SinkFn alert);
    ~ScopedSinks();
    ScopedSinks(const ScopedSinks&) = delete;
    ScopedSinks& operator=(const ScopedSinks&) = delete;

  private:
    SinkFn m_SavedLog;
    SinkFn m_SavedAlert;
};

// Collects the lines this thread sends to the log or the alert sink for its lifetime, instead
// of showing them, for a caller that reports them in its own way. Meant for single-threaded
// callers: lines other threads send meanwhile are dropped. Captures nest.
class CapturedLines {
  public:
    enum Which { Log, Alerts };
    explicit CapturedLines(Which which);
    ~CapturedLines();
    CapturedLines(const CapturedLines&) = delete;
    CapturedLines& operator=(const CapturedLines&) = delete;

    const std::vector<std::string>& Lines() const { return m_Lines; }

  private:
    static void Capture(char* text, int32_t level);
    static void CaptureAlert(char* text, int32_t level);

    Which m_Which;
    std::vector<std::string> m_Lines;
    CapturedLines* m_Outer;
    SinkFn m_Saved;
};

// Formats into the status line and passes the line to g_pfnLog / g_pfnAlert.
void Logf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogDetailf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Alertf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A constant alert text, passed to the sink directly; the status line keeps its text.
void Alert(const char* text);

// Log file handling; all of it under the sink lock, as both threads log.
// OpenLogFile closes an open log file first; mode is "w" or "a". Returns true when open.
// Without followLinks a link at path is not opened (a log in a folder anyone may write to).
bool OpenLogFile(const std::string& path, const char* mode, bool followLinks = true);
void CloseLogFile();
bool IsLogFileOpen();
// Writes text to the open log file as it is (no line feed added) and flushes it.
void WriteLogFileRaw(const std::string& text);

// Writes text to the file at path opened for appending, without a line end (used for the
// "End Processing at" line). Returns false when the file cannot be opened.
bool AppendToFile(const std::string& path, const std::string& text, bool followLinks = true);

}  // namespace dorvex
