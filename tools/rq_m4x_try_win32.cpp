// rq-m4x-try: the program against the simulated controller, for a Windows
// user without a sign at hand ("Try without hardware" in the Start menu).
//
// Starts rq-m4x-sim --show on a TCP port of the loopback, points the
// program's settings at it, runs the program from its own folder and waits
// for it. Afterwards the port configured before comes back, unless the
// operator chose another one in the program meanwhile, and the simulator
// stops. All three programs sit in one folder.

#include <windows.h>

#include <string>

#include <wx/filename.h>
#include <wx/init.h>
#include <wx/string.h>

#include "config/ini_file.h"
#include "config/settings_keys.h"

namespace {

using rq::config::IniFile;
namespace keys = rq::config::keys;

const wchar_t kTitle[] = L"Try without hardware";
// The simulator prints its line's name at once; on a slow first start
// (antivirus scans, Wine) it may take a few seconds.
constexpr DWORD kStartLimitMs = 15000;

std::wstring Folder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/"));
}

void Say(const std::wstring& text)
{
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONERROR);
}

// Starts `commandLine` in `folder`, its standard output into `output` when
// given; no console window.
bool Start(const std::wstring& commandLine, const std::wstring& folder, HANDLE output, PROCESS_INFORMATION& process)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE nowhere = INVALID_HANDLE_VALUE;
    if (output) {
        // Only the first line is read: what else it says goes nowhere, so a
        // full pipe never stops it.
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        nowhere = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              OPEN_EXISTING, 0, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = nowhere;
        startup.hStdInput = nowhere;
    }
    std::wstring line = commandLine;
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, output != nullptr, CREATE_NO_WINDOW,
                                        nullptr, folder.c_str(), &startup, &process) != 0;
    if (nowhere != INVALID_HANDLE_VALUE) CloseHandle(nowhere);
    return started;
}

// The first line the simulator prints: its line's name; empty when it ended
// or said nothing in time.
std::string FirstLine(HANDLE pipe, HANDLE process)
{
    std::string text;
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < kStartLimitMs) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return {};
        if (waiting == 0) {
            if (WaitForSingleObject(process, 20) == WAIT_OBJECT_0) return {};
            continue;
        }
        char buffer[256];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, waiting < sizeof buffer ? waiting : sizeof buffer, &got, nullptr)) return {};
        text.append(buffer, got);
        const std::size_t end = text.find('\n');
        if (end != std::string::npos) {
            text.resize(end);
            if (!text.empty() && text.back() == '\r') text.pop_back();
            return text;
        }
    }
    return {};
}

// How the chosen model's frames are addressed, for the simulated sign: Lock/id
// 0 in its profile puts the ID in every frame. A first start gets RQ-M4T.
std::wstring AddressOption()
{
    wxString mode = IniFile(rq::config::kSettingsPath).config->Read(keys::Mode, wxString("RQ-M4T"));
    if (mode.empty()) mode = "RQ-M4T";
    const wxString profile = "Modes/" + mode + ".ini";
    const bool on = wxFileName::FileExists(profile) &&
                    IniFile(profile).config->Read(rq::config::profile_keys::LockId,
                                                  rq::config::profile_defaults::Lock) == 0;
    return on ? L" --address on" : L" --address off";
}

int Run()
{
    const std::wstring folder = Folder();
    SetCurrentDirectoryW(folder.c_str());

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return 1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION sim{};
    const bool simStarted =
        Start(L"\"" + folder + L"\\rq-m4x-sim.exe\" --show --listen tcp://127.0.0.1:0" + AddressOption(), folder,
              writeEnd, sim);
    CloseHandle(writeEnd);
    const std::string line = simStarted ? FirstLine(readEnd, sim.hProcess) : std::string();
    if (line.rfind("tcp://", 0) != 0) {
        if (simStarted) TerminateProcess(sim.hProcess, 1);
        Say(L"The simulated controller did not start (rq-m4x-sim.exe in " + folder + L").");
        return 1;
    }
    const wxString address = wxString::FromUTF8(line.c_str());

    // This run's port; a first start also gets the model the window has
    // commands for, as the installer gives it.
    wxString before;
    {
        IniFile settings(rq::config::kSettingsPath);
        before = settings.config->Read(keys::ComPort, wxString());
        if (settings.config->Read(keys::Mode, wxString()).empty() && wxFileName::FileExists("Modes/RQ-M4T.ini"))
            settings.config->Write(keys::Mode, wxString("RQ-M4T"));
        settings.config->Write(keys::ComPort, address);
        settings.Save();
    }

    PROCESS_INFORMATION program{};
    DWORD status = 1;
    if (Start(L"\"" + folder + L"\\rq-m4x-led-test.exe\"", folder, nullptr, program)) {
        WaitForSingleObject(program.hProcess, INFINITE);
        GetExitCodeProcess(program.hProcess, &status);
        CloseHandle(program.hThread);
        CloseHandle(program.hProcess);
    } else {
        Say(L"The program did not start (rq-m4x-led-test.exe in " + folder + L").");
    }

    // The simulator's port lives as long as the simulator: it does not stay.
    {
        IniFile settings(rq::config::kSettingsPath);
        if (settings.config->Read(keys::ComPort, wxString()) == address) {
            settings.config->Write(keys::ComPort, before);
            settings.Save();
        }
    }
    TerminateProcess(sim.hProcess, 0);
    WaitForSingleObject(sim.hProcess, 5000);
    CloseHandle(sim.hThread);
    CloseHandle(sim.hProcess);
    CloseHandle(readEnd);
    return static_cast<int>(status);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    return Run();
}
