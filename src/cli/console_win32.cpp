#include "cli/console.h"

#include <atomic>
#include <cstdio>

#include <io.h>
#include <windows.h>
#include <shellapi.h>

// Older MinGW headers lack it.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace rq::cli {

namespace {

std::string ToUtf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

// The console as the tool found it. Written once before the handler is
// installed; given back at most once, by whichever end comes first.
struct SavedConsole {
    bool saved = false;
    UINT outputCodePage = 0;
    HANDLE output = INVALID_HANDLE_VALUE;
    DWORD outputMode = 0;
    bool haveOutputMode = false;
};
SavedConsole savedConsole;
std::atomic<bool> consoleGivenBack{false};

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

void GiveConsoleBack()
{
    if (!savedConsole.saved || consoleGivenBack.exchange(true)) return;
    SetConsoleOutputCP(savedConsole.outputCodePage);
    if (savedConsole.haveOutputMode) SetConsoleMode(savedConsole.output, savedConsole.outputMode);
}

// Ctrl+C, Ctrl+Break, the window closed: settings back, then the default
// handling, which ends the tool. No flush here: the main thread may hold the
// stream.
BOOL WINAPI OnConsoleEnd(DWORD /*event*/)
{
    GiveConsoleBack();
    return FALSE;
}

void (*firstInterrupt)() = nullptr;
int secondInterruptStatus = 1;
std::atomic<int> interrupts{0};

// Ctrl+C and Ctrl+Break: the first lets the run end in order, a second ends
// it now. Closing the window and logging off go on to OnConsoleEnd.
BOOL WINAPI OnInterruptEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (interrupts.fetch_add(1) > 0) {
        GiveConsoleBack();
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(secondInterruptStatus));
    }
    if (firstInterrupt) firstInterrupt();
    return TRUE;
}

}  // namespace

void OnInterrupt(void (*onFirst)(), int status)
{
    firstInterrupt = onFirst;
    secondInterruptStatus = status;
    // Called before the handlers installed earlier.
    SetConsoleCtrlHandler(OnInterruptEvent, TRUE);
}

ConsoleSettingsGuard::ConsoleSettingsGuard()
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!IsConsole(output) && !IsConsole(GetStdHandle(STD_ERROR_HANDLE))) return;
    savedConsole.outputCodePage = GetConsoleOutputCP();
    if (IsConsole(output)) {
        savedConsole.output = output;
        savedConsole.haveOutputMode = GetConsoleMode(output, &savedConsole.outputMode) != 0;
    }
    savedConsole.saved = savedConsole.outputCodePage != 0;
    if (savedConsole.saved) SetConsoleCtrlHandler(OnConsoleEnd, TRUE);
}

ConsoleSettingsGuard::~ConsoleSettingsGuard()
{
    RestoreConsoleSettings();
}

void RestoreConsoleSettings()
{
    if (!savedConsole.saved || consoleGivenBack) return;
    // Every stream still open: standard output may have been closed already
    // (to learn whether all of it was written), and a closed stream is no
    // stream to flush.
    std::fflush(nullptr);
    GiveConsoleBack();
}

void EndProcessNow(int status)
{
    // The system stops every thread at once, a worker still ending among
    // them. The C library's exit (ExitProcess) also detaches the DLLs; under
    // Wine, with a worker's thread still ending, it now and then hung until
    // the process was killed (status 137).
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    std::_Exit(status);
}

bool PrintText(std::FILE* stream, const std::string& text)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return std::fputs(text.c_str(), stream) >= 0;
    // The C runtime would pass the bytes through the console's code page (or
    // its own locale), which turns UTF-8 into garbage in a GBK window.
    std::fflush(stream);
    if (text.empty()) return true;
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    DWORD written = 0;
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != 0;
}

bool IsTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

bool PrepareColourOutput()
{
    if (!_isatty(_fileno(stdout))) return false;
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
    // Consoles before Windows 10 show escape sequences as text: no colour there.
    return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    // The narrow argv holds the ANSI code page's idea of the text; the wide
    // command line holds all of it.
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
        return args;
    }
    for (int i = 1; i < count; ++i) args.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return args;
}

}  // namespace rq::cli
