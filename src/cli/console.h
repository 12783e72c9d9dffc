#pragma once
// The console around rq-m4x-send, one file per OS (console_posix.cpp,
// console_win32.cpp).

#include <cstdio>
#include <string>
#include <vector>

namespace rq::cli {

// Keeps the Windows console's output code page and mode as the tool found
// them and gives them back when the tool ends, Ctrl+C, Ctrl+Break and closing
// the window included, so that other programs' output in the same window
// reads as before. Nothing elsewhere.
class ConsoleSettingsGuard {
public:
    ConsoleSettingsGuard();
    ~ConsoleSettingsGuard();
    ConsoleSettingsGuard(const ConsoleSettingsGuard&) = delete;
    ConsoleSettingsGuard& operator=(const ConsoleSettingsGuard&) = delete;
};

// Gives the console its settings back now; for an exit that skips
// destructors. Harmless when nothing was changed or already given back.
void RestoreConsoleSettings();

// From now on the first interrupt (Ctrl+C or SIGTERM; Ctrl+C or Ctrl+Break
// in a Windows console) calls `onFirst`, which must be safe in a signal
// handler; a second one ends the process at once with `status`.
void OnInterrupt(void (*onFirst)(), int status);

// Ends the process at once with `status`: no destructors, no clean-up by the
// C library or the toolkit, no flushing (flush what was printed first).
[[noreturn]] void EndProcessNow(int status);

// Prints UTF-8 `text` to `stream`. A Windows console gets it as characters
// (WriteConsoleW), readable whatever its code page; files, pipes and POSIX
// terminals get the UTF-8 bytes. False when it could not be written.
bool PrintText(std::FILE* stream, const std::string& text);

// Whether standard output is a terminal that shows ANSI colours. On Windows
// this also switches the console to escape sequences.
bool PrepareColourOutput();

// Whether `stream` goes to a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// The program's arguments, without its name, as UTF-8 text.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace rq::cli
