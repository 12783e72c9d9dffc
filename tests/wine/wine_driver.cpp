// rq-wine-driver: works the Windows program's window from outside, as an
// operator would, for the smoke test under Wine. It finds the window by its
// title, presses a button by its label, reads the log pane's text and closes
// the window. It never opens a dialog of the program.
//
//   rq-wine-driver wait  TITLE SECONDS          the window is shown and answers messages
//   rq-wine-driver click TITLE LABEL            presses the enabled button with that label
//   rq-wine-driver log   TITLE TEXT SECONDS     prints the log pane once it holds TEXT
//   rq-wine-driver close TITLE SECONDS          asks the window to close and waits until it is gone
//
// Exit code 0 on success, 1 when the condition was not met in time, 2 on
// wrong usage. Texts are printed as UTF-8.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The toolkit's standard command identifiers (wxID_COPY, wxID_SELECTALL): its
// rich text control answers them as menu commands, which is how its own
// Ctrl+A and Ctrl+C accelerators reach it.
constexpr WORD kCopyCommand = 5032;
constexpr WORD kSelectAllCommand = 5037;
// How long one message to the program may take before it counts as hung.
constexpr UINT kMessageTimeoutMs = 5000;
constexpr DWORD kPollMs = 100;

std::wstring Widen(const char* text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr,
                        nullptr);
    return narrow;
}

// Raw bytes to stdout: no console code page conversion on the way.
void Print(const std::string& text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Complain(const std::string& text)
{
    DWORD written = 0;
    const std::string line = "rq-wine-driver: " + text + "\n";
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::wstring WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// A label as shown, without the mnemonic markers.
std::wstring PlainLabel(const std::wstring& label)
{
    std::wstring plain;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label[i] == L'&' && i + 1 < label.size()) ++i;
        plain += label[i];
    }
    return plain;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool Answers(HWND window)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result) != 0;
}

// The shown top-level window with exactly this title, answering messages.
// The top-level window of that title; a title ending in '*' is a prefix
// ("rq-m4x-sim*": the simulator's window names its line after the name).
HWND FindTopWindow(const std::wstring& title)
{
    if (title.empty() || title.back() != L'*') return FindWindowW(nullptr, title.c_str());
    struct Search {
        std::wstring prefix;
        HWND found = nullptr;
    } search{title.substr(0, title.size() - 1)};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (!IsWindowVisible(window) || WindowText(window).rfind(s->prefix, 0) != 0) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindTopWindow(title);
        if (window && IsWindowVisible(window) && Answers(window)) return window;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

HWND FindButton(HWND top, const std::wstring& label)
{
    for (HWND child : Children(top)) {
        if (_wcsicmp(ClassName(child).c_str(), L"Button") != 0) continue;
        if (PlainLabel(WindowText(child)) == label) return child;
    }
    return nullptr;
}

std::wstring WithoutTrailingBlanks(std::wstring text)
{
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return text;
}

// A message box may carry the title of the window it belongs to (an
// installer's pages and its "program running" box), with or without the
// trailing blank NSIS puts after its captions: look in every visible window
// of that title for the button.
HWND FindButtonInWindowsTitled(const std::wstring& title, const std::wstring& label, DWORD timeoutMs)
{
    struct Search {
        std::wstring title;
        std::wstring label;
        HWND button = nullptr;
    } search{WithoutTrailingBlanks(title), label};
    const DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto& wanted = *reinterpret_cast<Search*>(data);
                if (!IsWindowVisible(window) || WithoutTrailingBlanks(WindowText(window)) != wanted.title)
                    return TRUE;
                wanted.button = FindButton(window, wanted.label);
                return wanted.button == nullptr;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.button || GetTickCount() - start >= timeoutMs) return search.button;
        Sleep(kPollMs);
    }
}

bool ClearClipboard()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
            return true;
        }
        Sleep(20);
    }
    return false;
}

std::wstring ClipboardText()
{
    std::wstring text;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (!OpenClipboard(nullptr)) {
            Sleep(20);
            continue;
        }
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
                text = chars;
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
        break;
    }
    return text;
}

// The log pane is the toolkit's own (not a native) control: select all and
// copy through its command identifiers, then read the clipboard. Panels and
// other controls ignore those commands, so candidates are simply tried, the
// toolkit's own window classes first, larger ones before smaller.
std::wstring ReadLogPane(HWND top, const std::wstring& mark)
{
    std::vector<HWND> candidates = Children(top);
    const auto own = [](HWND w) { return ClassName(w).rfind(L"wxWindow", 0) == 0; };
    const auto area = [](HWND w) {
        RECT r{};
        GetWindowRect(w, &r);
        return static_cast<long>(r.right - r.left) * static_cast<long>(r.bottom - r.top);
    };
    std::stable_sort(candidates.begin(), candidates.end(), [&](HWND a, HWND b) {
        if (own(a) != own(b)) return own(a);
        return area(a) > area(b);
    });
    std::wstring last;
    for (HWND candidate : candidates) {
        if (!ClearClipboard()) return last;
        DWORD_PTR result = 0;
        SendMessageTimeoutW(candidate, WM_COMMAND, MAKEWPARAM(kSelectAllCommand, 0), 0, SMTO_ABORTIFHUNG,
                            kMessageTimeoutMs, &result);
        SendMessageTimeoutW(candidate, WM_COMMAND, MAKEWPARAM(kCopyCommand, 0), 0, SMTO_ABORTIFHUNG,
                            kMessageTimeoutMs, &result);
        std::wstring text = ClipboardText();
        if (text.find(mark) != std::wstring::npos) return text;
        if (!text.empty()) last = text;
    }
    return last;
}

DWORD Seconds(const char* text)
{
    const long value = std::strtol(text, nullptr, 10);
    return value > 0 ? static_cast<DWORD>(value) * 1000 : 1000;
}

int Usage()
{
    Complain("usage: wait TITLE SECONDS | click TITLE LABEL | log TITLE TEXT SECONDS | close TITLE SECONDS");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const std::wstring title = Widen(argv[2]);

    if (command == "wait" && argc == 4) {
        if (!WaitForWindow(title, Seconds(argv[3]))) {
            Complain("no window \"" + Narrow(title) + "\"");
            return 1;
        }
        return 0;
    }
    if (command == "click" && argc == 4) {
        HWND button = FindButtonInWindowsTitled(title, Widen(argv[3]), 1000);
        if (!button) {
            Complain(std::string("no button \"") + argv[3] + "\"");
            return 1;
        }
        if (!IsWindowEnabled(button)) {
            Complain(std::string("button \"") + argv[3] + "\" is disabled");
            return 1;
        }
        // Posted, so that a message box the click may raise cannot block us.
        PostMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == "log" && argc == 5) {
        const std::wstring wanted = Widen(argv[3]);
        const DWORD timeoutMs = Seconds(argv[4]);
        const DWORD start = GetTickCount();
        std::wstring text;
        for (;;) {
            HWND top = WaitForWindow(title, 1000);
            if (top) text = ReadLogPane(top, L"=========");
            if (text.find(wanted) != std::wstring::npos) break;
            if (GetTickCount() - start >= timeoutMs) {
                Print(Narrow(text));
                Complain("the log pane never held \"" + Narrow(wanted) + "\"");
                return 1;
            }
            Sleep(kPollMs);
        }
        Print(Narrow(text));
        return 0;
    }
    if (command == "close" && argc == 4) {
        HWND top = FindTopWindow(title);
        if (!top) return 0;
        PostMessageW(top, WM_CLOSE, 0, 0);
        const DWORD timeoutMs = Seconds(argv[3]);
        const DWORD start = GetTickCount();
        while (IsWindow(top)) {
            if (GetTickCount() - start >= timeoutMs) {
                Complain("the window did not close");
                return 1;
            }
            Sleep(kPollMs);
        }
        return 0;
    }
    return Usage();
}
