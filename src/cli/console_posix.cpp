#include "cli/console.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include <atomic>
#include <csignal>

#include <unistd.h>

#include "cli/send_request.h"
#include "protocol/message_text.h"

namespace rq::cli {

namespace {

// An argument in the terminal's own multibyte code, when that is not UTF-8
// (a GBK terminal, say). Left as it is when it does not convert: the
// message check then reports it as not being text.
std::string FromLocale(const char* arg)
{
    std::mbstate_t state{};
    const char* source = arg;
    const std::size_t length = std::mbsrtowcs(nullptr, &source, 0, &state);
    if (length == static_cast<std::size_t>(-1)) return arg;
    std::wstring wide(length, L'\0');
    source = arg;
    state = std::mbstate_t{};
    std::mbsrtowcs(wide.data(), &source, length, &state);
    std::string out;
    for (const wchar_t c : wide) rq::protocol::AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

void (*firstInterrupt)() = nullptr;
int secondInterruptStatus = 1;
std::atomic<int> interrupts{0};

extern "C" void HandleInterrupt(int)
{
    if (interrupts.fetch_add(1) > 0) _exit(secondInterruptStatus);
    if (firstInterrupt) firstInterrupt();
}

}  // namespace

void OnInterrupt(void (*onFirst)(), int status)
{
    firstInterrupt = onFirst;
    secondInterruptStatus = status;
    struct sigaction action {};
    action.sa_handler = HandleInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// A terminal shows UTF-8 as it is: nothing to switch, nothing to give back.
ConsoleSettingsGuard::ConsoleSettingsGuard() = default;
ConsoleSettingsGuard::~ConsoleSettingsGuard() = default;
void RestoreConsoleSettings() {}

void EndProcessNow(int status)
{
    std::_Exit(status);
}

bool PrintText(std::FILE* stream, const std::string& text)
{
    return std::fputs(text.c_str(), stream) >= 0;
}

bool IsTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}

bool PrepareColourOutput()
{
    return isatty(STDOUT_FILENO) == 1;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    std::vector<std::string> args;
    bool localeSet = false;
    for (int i = 1; i < argc; ++i) {
        if (Utf8ToUtf16(argv[i])) {
            args.emplace_back(argv[i]);
            continue;
        }
        if (!localeSet) {
            std::setlocale(LC_CTYPE, "");
            localeSet = true;
        }
        args.push_back(FromLocale(argv[i]));
    }
    return args;
}

}  // namespace rq::cli
