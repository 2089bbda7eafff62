// The console side of dorvex-cli: the engine's log lines and alerts on standard error, one line
// each, a progress line kept beneath them on a terminal, and yes/no questions.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/core/Progress.h"
#include "app/core/RunSession.h"
#include "engine/VtsCleaner.h"

namespace dorvex::cli {

// Points the engine's sinks at standard error. The run's log file gets every log line exactly as
// the headless dorvex writes it; alerts show as "error: ..." and stay out of the log file, as
// they do there. With quiet only the alerts reach the console.
void InstallConsoleSinks(bool quiet);

// "error: TEXT" on standard error, shown even when quiet.
void PrintError(const std::string& text);
// A line of the program's own on standard error, unless quiet.
void PrintNote(const std::string& text);
// "warning: TEXT" on standard error, even when quiet: the run goes on, but the user must know.
void PrintWarning(const std::string& text);

bool IsTerminal(int fd);

// A report on standard output, at once.
void WriteStdout(const std::string& text);

// While it lives (and is enabled), one line on standard error shows the run's progress: the
// percentage, the throughput, the time to go and the file being read, redrawn in place with a
// carriage return every 200 ms and after every log line, so that it stays below them. It is
// wiped when the object goes away.
class ProgressLine {
  public:
    ProgressLine(const CVtsCleaner& engine, bool enabled);
    // A step of the program's own around a run (copying an image, writing one): the line is
    // what `text` says at each redraw.
    ProgressLine(std::function<std::string()> text, bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // The line's text now, cut to fit a terminal of `columns` columns; empty when the run
    // shows no phase yet.
    std::string Text(size_t columns) const;
    // Redraws the line. Called with the console lock held.
    void DrawLocked();

  private:
    void Start(bool enabled);
    void Ticker();

    const CVtsCleaner* m_Engine = nullptr;
    std::function<std::string()> m_StepText;
    ThroughputEstimator m_Speed;
    std::thread m_Thread;
    std::condition_variable m_Wake;
    bool m_Stop = false;
};

// A run's console: its progress line below the log lines, on a terminal and unless quiet.
RunHooks RunProgressHooks(const CVtsCleaner& engine, bool quiet);

enum class Confirmation { Yes, No, NoTerminal };

// Asks a yes/no question on standard error and reads the answer from standard input; anything
// but "y" or "yes" is a no. assumeYes answers for the user. With no terminal on standard input
// there is nobody to ask: NoTerminal.
Confirmation Confirm(const std::string& question, bool assumeYes);

}  // namespace dorvex::cli
