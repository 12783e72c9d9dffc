#include "cli/console.h"

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

}  // namespace

bool PrepareColourOutput()
{
    if (!_isatty(_fileno(stdout))) return false;
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
    SetConsoleOutputCP(CP_UTF8);
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
