#include "support/Sinks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <mutex>

namespace dorvex {

namespace {

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}

char g_szStatus[kStatusCapacity] = {};

// Each thread formats into its own line buffer; the shared status line is only copied under
// the lock, so a reader never sees half a line.
thread_local char t_line[kStatusCapacity];

void FormatLine(const char* format, va_list args) {
    vsnprintf(t_line, sizeof(t_line), format, args);
    StatusText::Set(t_line);
}

}  // namespace

SinkFn g_pfnLog = LogMessage;
SinkFn g_pfnAlert = LogMessage;
FILE* g_pLogFile = nullptr;

void StatusText::Set(const char* text) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (text == g_szStatus) {
        return;
    }
    size_t len = strnlen(text, kStatusCapacity - 1);
    memcpy(g_szStatus, text, len);
    g_szStatus[len] = '\0';
}

std::string StatusText::Get() {
    std::lock_guard<std::mutex> guard(SinkLock());
    return std::string(g_szStatus);
}

namespace {

void Echo(char* text, int32_t level, bool lineEnd) {
    if (level == kLogLevelDetail) {
        return;
    }
    size_t len = strlen(text);
    if (len > 0 && text[len - 1] == '\n') {
        text[--len] = '\0';
    }
    fwrite(text, 1, len, stdout);
    if (lineEnd) {
        fputc('\n', stdout);
    }
    fflush(stdout);
    StatusText::Set(text);
    std::lock_guard<std::mutex> guard(SinkLock());
    if (g_pLogFile != nullptr) {
        fprintf(g_pLogFile, "%s\n", text);
        fflush(g_pLogFile);
    }
}

}  // namespace

void LogMessage(char* text, int32_t level) {
    Echo(text, level, false);
}

void LogLine(char* text, int32_t level) {
    Echo(text, level, true);
}

void DiscardMessage(char*, int32_t) {}

ScopedSinks::ScopedSinks(SinkFn log, SinkFn alert)
    : m_SavedLog(g_pfnLog), m_SavedAlert(g_pfnAlert) {
    if (log != nullptr) {
        g_pfnLog = log;
    }
    if (alert != nullptr) {
        g_pfnAlert = alert;
    }
}

ScopedSinks::~ScopedSinks() {
    g_pfnLog = m_SavedLog;
    g_pfnAlert = m_SavedAlert;
}

namespace {

// The innermost capture of each kind on this thread.
thread_local CapturedLines* t_pLogCapture = nullptr;
thread_local CapturedLines* t_pAlertCapture = nullptr;

CapturedLines*& InnermostCapture(CapturedLines::Which which) {
    return which == CapturedLines::Log ? t_pLogCapture : t_pAlertCapture;
}

}  // namespace

CapturedLines::CapturedLines(Which which) : m_Which(which), m_Outer(InnermostCapture(which)) {
    SinkFn& sink = which == Log ? g_pfnLog : g_pfnAlert;
    m_Saved = sink;
    sink = which == Log ? &CapturedLines::Capture : &CapturedLines::CaptureAlert;
    InnermostCapture(which) = this;
}

CapturedLines::~CapturedLines() {
    (m_Which == Log ? g_pfnLog : g_pfnAlert) = m_Saved;
    InnermostCapture(m_Which) = m_Outer;
}

void CapturedLines::Capture(char* text, int32_t level) {
    CapturedLines* capture = t_pLogCapture;
    if (capture != nullptr && level != kLogLevelDetail) {
        capture->m_Lines.emplace_back(text);
    }
}

void CapturedLines::CaptureAlert(char* text, int32_t) {
    if (CapturedLines* capture = t_pAlertCapture) {
        capture->m_Lines.emplace_back(text);
    }
}

void Logf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatLine(format, args);
    va_end(args);
    g_pfnLog(t_line, kLogLevelNormal);
}

void LogDetailf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatLine(format, args);
    va_end(args);
    g_pfnLog(t_line, kLogLevelDetail);
}

void Alertf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatLine(format, args);
    va_end(args);
    g_pfnAlert(t_line, kLogLevelNormal);
}

void Alert(const char* text) {
    // The sink may shorten its text in place, so it gets a private copy of the constant.
    thread_local char copy[kStatusCapacity];
    size_t len = strnlen(text, kStatusCapacity - 1);
    memcpy(copy, text, len);
    copy[len] = '\0';
    g_pfnAlert(copy, kLogLevelNormal);
}

namespace {

// fopen's "w" or "a", and not through a link unless followLinks.
FILE* OpenText(const std::string& path, const char* mode, bool followLinks) {
    const bool append = mode[0] == 'a';
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC) |
                      (followLinks ? 0 : O_NOFOLLOW);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        return nullptr;
    }
    FILE* file = ::fdopen(fd, append ? "a" : "w");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

}  // namespace

bool OpenLogFile(const std::string& path, const char* mode, bool followLinks) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (g_pLogFile != nullptr) {
        fclose(g_pLogFile);
        g_pLogFile = nullptr;
    }
    if (!path.empty()) {
        g_pLogFile = OpenText(path, mode, followLinks);
    }
    return g_pLogFile != nullptr;
}

void CloseLogFile() {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (g_pLogFile != nullptr) {
        fclose(g_pLogFile);
        g_pLogFile = nullptr;
    }
}

bool IsLogFileOpen() {
    std::lock_guard<std::mutex> guard(SinkLock());
    return g_pLogFile != nullptr;
}

void WriteLogFileRaw(const std::string& text) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (g_pLogFile != nullptr) {
        fwrite(text.data(), 1, text.size(), g_pLogFile);
        fflush(g_pLogFile);
    }
}

bool AppendToFile(const std::string& path, const std::string& text, bool followLinks) {
    FILE* file = OpenText(path, "a", followLinks);
    if (file == nullptr) {
        return false;
    }
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
    return true;
}

}  // namespace dorvex
