// rq-m4x-try: the program against the simulated controller, for a Windows
// user without a sign at hand ("Try without hardware" in the Start menu).
//
// Starts rq-m4x-sim --show on a TCP port of the loopback and runs the
// program against it in a trial folder of its own in the temporary folder:
// a copy of the user's settings (pointed at the simulator) and of Modes\,
// img\ and locale\. The user's settings file is only read, so nothing needs
// putting back however the trial ends, and a window already open on the
// user's folder does not stop the trial (one window per settings folder).
// The simulator is in a job object that ends it when this program ends, even
// when it is killed. All three programs sit in one folder.

#include <windows.h>

#include <string>

#include <wx/filename.h>
#include <wx/init.h>
#include <wx/string.h>

#include "platform/running_mark.h"
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

// The trial's own folder: made anew under the temporary folder, named after
// this process so that two trials never share one.
std::wstring TrialFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return {};
    return std::wstring(temp, length) + L"rq-m4x-try-" + std::to_wstring(GetCurrentProcessId());
}

// Copies the folder `from` with what it holds into `to`; false when a file
// could not be copied.
bool CopyFolder(const std::wstring& from, const std::wstring& to)
{
    if (!CreateDirectoryW(to.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool copied = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            copied = CopyFolder(from + L"\\" + name, to + L"\\" + name) && copied;
        else
            copied = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) && copied;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return copied;
}

void RemoveFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolder(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// A job that ends the processes in it when its last handle closes: when
// this program ends, however it ends, the system closes the handle.
HANDLE JobEndingWithUs()
{
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

void Say(const std::wstring& text)
{
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONERROR);
}

// Starts `commandLine` in `folder`, its standard output into `output` when
// given; no console window. With a `job`, the process is in it before it
// runs its first instruction.
bool Start(const std::wstring& commandLine, const std::wstring& folder, HANDLE output, PROCESS_INFORMATION& process,
           HANDLE job = nullptr)
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
    const DWORD flags = CREATE_NO_WINDOW | (job ? CREATE_SUSPENDED : 0);
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, output != nullptr, flags, nullptr,
                                        folder.c_str(), &startup, &process) != 0;
    if (nowhere != INVALID_HANDLE_VALUE) CloseHandle(nowhere);
    if (started && job) {
        // Where the job cannot take it (a system that nests no jobs) the
        // simulator still ends with a normal end of the trial.
        AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
    }
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

// The trial's settings: the user's, read only, with the simulator's address
// as the port (and the model the window has commands for when none is
// chosen, as the installer gives it), in the trial folder with copies of
// what the program reads beside them. False when they could not be written.
bool PrepareTrialFolder(const std::wstring& folder, const std::wstring& trial, const wxString& address)
{
    RemoveFolder(trial);
    bool ready = CreateDirectoryW(trial.c_str(), nullptr) != 0;
    for (const wchar_t* data : {L"Modes", L"img", L"locale"})
        ready = ready && CopyFolder(folder + L"\\" + data, trial + L"\\" + data);
    if (!ready) return false;
    CreateDirectoryW((trial + L"\\Config").c_str(), nullptr);
    const std::wstring copy = trial + L"\\Config\\Config.ini";
    if (CopyFileW((folder + L"\\Config\\Config.ini").c_str(), copy.c_str(), FALSE))
        SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);  // the user's may be read-only
    IniFile settings(wxString(trial) + "\\" + rq::config::kSettingsPath);
    if (settings.config->Read(keys::Mode, wxString()).empty() && wxFileName::FileExists("Modes/RQ-M4T.ini"))
        settings.config->Write(keys::Mode, wxString("RQ-M4T"));
    settings.config->Write(keys::ComPort, address);
    return settings.Save();
}

int Run()
{
    // An installer started meanwhile waits instead of replacing the programs.
    const rq::app::RunningMark runningMark;
    const std::wstring folder = Folder();
    SetCurrentDirectoryW(folder.c_str());

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return 1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const HANDLE job = JobEndingWithUs();
    PROCESS_INFORMATION sim{};
    const bool simStarted =
        Start(L"\"" + folder + L"\\rq-m4x-sim.exe\" --show --listen tcp://127.0.0.1:0" + AddressOption(), folder,
              writeEnd, sim, job);
    CloseHandle(writeEnd);
    const std::string line = simStarted ? FirstLine(readEnd, sim.hProcess) : std::string();
    if (line.rfind("tcp://", 0) != 0) {
        if (simStarted) TerminateProcess(sim.hProcess, 1);
        Say(L"The simulated controller did not start (rq-m4x-sim.exe in " + folder + L").");
        return 1;
    }
    const wxString address = wxString::FromUTF8(line.c_str());

    const std::wstring trial = TrialFolder();
    DWORD status = 1;
    if (trial.empty() || !PrepareTrialFolder(folder, trial, address)) {
        Say(L"The settings for the trial could not be written in " + (trial.empty() ? L"the temporary folder" : trial) +
            L".");
    } else {
        // Started in the trial folder: its settings, profiles and pictures.
        PROCESS_INFORMATION program{};
        if (Start(L"\"" + folder + L"\\rq-m4x-led-test.exe\"", trial, nullptr, program)) {
            WaitForSingleObject(program.hProcess, INFINITE);
            GetExitCodeProcess(program.hProcess, &status);
            CloseHandle(program.hThread);
            CloseHandle(program.hProcess);
        } else {
            Say(L"The program did not start (rq-m4x-led-test.exe in " + folder + L").");
        }
    }

    TerminateProcess(sim.hProcess, 0);
    WaitForSingleObject(sim.hProcess, 5000);
    CloseHandle(sim.hThread);
    CloseHandle(sim.hProcess);
    if (job) CloseHandle(job);
    CloseHandle(readEnd);
    if (!trial.empty()) RemoveFolder(trial);
    return static_cast<int>(status);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    return Run();
}
