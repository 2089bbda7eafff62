#include "app/dorvexcli/Console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/core/Clock.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex::cli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr size_t kFallbackColumns = 80;

// Everything below is only touched under this lock: the engine logs from its own thread while
// the progress ticker draws from another.
std::mutex g_ConsoleLock;
bool g_Quiet = false;
ProgressLine* g_pProgress = nullptr;
size_t g_ShownWidth = 0;  // characters of the progress line now on screen

void WriteStderr(const std::string& bytes) {
    // A failed write (a closed pipe, a full disk) must not stop a run: the log file still has it.
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// Blanks the progress line so that a log line can take its row.
void WipeProgressLocked() {
    if (g_ShownWidth > 0) {
        // Built in place rather than concatenated: GCC 12 warns (-Wrestrict) about the
        // concatenation in an optimized build, wrongly.
        std::string blank(g_ShownWidth + 2, ' ');
        blank.front() = '\r';
        blank.back() = '\r';
        WriteStderr(blank);
        g_ShownWidth = 0;
    }
}

void WriteLineLocked(const char* text, size_t len) {
    WipeProgressLocked();
    std::string line(text, len);
    line += '\n';
    WriteStderr(line);
    if (g_pProgress != nullptr) {
        g_pProgress->DrawLocked();
    }
}

// The engine hands over one line at a time, sometimes with its own line end.
size_t StripLineEnd(char* text) {
    size_t len = strlen(text);
    if (len > 0 && text[len - 1] == '\n') {
        text[--len] = '\0';
    }
    return len;
}

void ConsoleLog(char* text, int32_t level) {
    if (level == kLogLevelDetail) {
        return;
    }
    size_t len = StripLineEnd(text);
    // The same bytes the headless command line's sink puts in the file: the line and a line end.
    WriteLogFileRaw(std::string(text, len) + "\n");
    std::lock_guard<std::mutex> guard(g_ConsoleLock);
    if (!g_Quiet) {
        WriteLineLocked(text, len);
    }
}

void ConsoleAlert(char* text, int32_t /*level*/) {
    size_t len = StripLineEnd(text);
    PrintError(std::string(text, len));
}

size_t TerminalColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return kFallbackColumns;
}

}  // namespace

void InstallConsoleSinks(bool quiet) {
    {
        std::lock_guard<std::mutex> guard(g_ConsoleLock);
        g_Quiet = quiet;
    }
    g_pfnLog = ConsoleLog;
    g_pfnAlert = ConsoleAlert;
    // A reader that goes away (dorvex-cli clean ... 2>&1 | head) must not kill a run half-way.
    signal(SIGPIPE, SIG_IGN);
}

void PrintError(const std::string& text) {
    std::string line = "error: " + text;
    std::lock_guard<std::mutex> guard(g_ConsoleLock);
    WriteLineLocked(line.data(), line.size());
}

void PrintWarning(const std::string& text) {
    std::string line = "warning: " + text;
    std::lock_guard<std::mutex> guard(g_ConsoleLock);
    WriteLineLocked(line.data(), line.size());
}

void PrintNote(const std::string& text) {
    std::lock_guard<std::mutex> guard(g_ConsoleLock);
    if (!g_Quiet) {
        WriteLineLocked(text.data(), text.size());
    }
}

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

void WriteStdout(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

ProgressLine::ProgressLine(const CVtsCleaner& engine, bool enabled) : m_Engine(&engine) {
    Start(enabled);
}

ProgressLine::ProgressLine(std::function<std::string()> text, bool enabled)
    : m_StepText(std::move(text)) {
    Start(enabled);
}

void ProgressLine::Start(bool enabled) {
    if (!enabled) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(g_ConsoleLock);
        g_pProgress = this;
    }
    m_Thread = std::thread([this] { Ticker(); });
}

ProgressLine::~ProgressLine() {
    if (!m_Thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(g_ConsoleLock);
        m_Stop = true;
        g_pProgress = nullptr;
        WipeProgressLocked();
    }
    m_Wake.notify_all();
    m_Thread.join();
}

std::string ProgressLine::Text(size_t columns) const {
    std::string text;
    if (m_Engine == nullptr) {
        text = m_StepText();
    } else {
        const int32_t phase = m_Engine->m_Phase.load();
        const uint32_t total = m_Engine->m_TotalSectors.load();
        text = FormatPhaseLine(phase, m_Speed, m_Engine->m_ReadTotal.load(), total);
        if (phase == PhaseVobPass) {
            text += " -- " + GetFileName(m_Engine->VobPathSnapshot());
        }
    }
    // One column stays free: a line that fills the row makes some terminals wrap, and the
    // carriage return would then redraw on the row below.
    if (columns > 1 && text.size() > columns - 1) {
        text.resize(columns - 1);
    }
    return text;
}

void ProgressLine::DrawLocked() {
    std::string text = Text(TerminalColumns());
    if (text.empty() && g_ShownWidth == 0) {
        return;
    }
    std::string bytes = "\r" + text;
    if (text.size() < g_ShownWidth) {
        bytes += std::string(g_ShownWidth - text.size(), ' ');
        bytes += "\r" + text;
    }
    WriteStderr(bytes);
    g_ShownWidth = text.size();
}

void ProgressLine::Ticker() {
    std::unique_lock<std::mutex> lock(g_ConsoleLock);
    while (!m_Stop) {
        if (m_Engine != nullptr) {
            m_Speed.Tick(MillisecondClock(), m_Engine->m_Phase.load(),
                         m_Engine->m_Pause.load() != 0, m_Engine->m_ReadTotal.load(),
                         m_Engine->m_TotalSectors.load());
        }
        DrawLocked();
        m_Wake.wait_for(lock, kRedrawInterval, [this] { return m_Stop; });
    }
}

RunHooks RunProgressHooks(const CVtsCleaner& engine, bool quiet) {
    RunHooks hooks;
    hooks.showProgressWhile = [&engine, quiet](const std::function<void()>& run) {
        ProgressLine line(engine, !quiet && IsTerminal(STDERR_FILENO));
        run();
    };
    return hooks;
}

Confirmation Confirm(const std::string& question, bool assumeYes) {
    if (assumeYes) {
        return Confirmation::Yes;
    }
    if (!IsTerminal(STDIN_FILENO)) {
        return Confirmation::NoTerminal;
    }
    std::string prompt = question + " [y/N] ";
    WriteStderr(prompt);
    char answer[64] = {};
    if (std::fgets(answer, sizeof(answer), stdin) == nullptr) {
        WriteStderr("\n");
        return Confirmation::No;
    }
    std::string word;
    for (const char* c = answer; *c != '\0'; ++c) {
        if (!std::isspace(static_cast<unsigned char>(*c))) {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        }
    }
    return word == "y" || word == "yes" ? Confirmation::Yes : Confirmation::No;
}

}  // namespace dorvex::cli
