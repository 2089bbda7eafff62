#include "support/Sinks.h"

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

void LogMessage(char* text, int32_t level) {
    if (level == kLogLevelDetail) {
        return;
    }
    size_t len = strlen(text);
    if (len > 0 && text[len - 1] == '\n') {
        text[--len] = '\0';
    }
    fwrite(text, 1, len, stdout);
    fflush(stdout);
    StatusText::Set(text);
    std::lock_guard<std::mutex> guard(SinkLock());
    if (g_pLogFile != nullptr) {
        fprintf(g_pLogFile, "%s\n", text);
        fflush(g_pLogFile);
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

bool OpenLogFile(const std::string& path, const char* mode) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (g_pLogFile != nullptr) {
        fclose(g_pLogFile);
        g_pLogFile = nullptr;
    }
    if (!path.empty()) {
        g_pLogFile = fopen(path.c_str(), mode);
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

bool AppendToFile(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "a");
    if (file == nullptr) {
        return false;
    }
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
    return true;
}

}  // namespace dorvex
